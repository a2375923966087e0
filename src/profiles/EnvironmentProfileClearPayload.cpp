#include "profiles/EnvironmentProfileClearPayload.h"

EnvironmentProfileClearPayload EnvironmentProfileClearPayload::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "EnvironmentProfileClearPayload");
    return {reader.list("variables", EnvironmentVariable::fromJson)};
}

json::Value EnvironmentProfileClearPayload::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("variables",
             json::makeList(variables, allocator,
                            [](const EnvironmentVariable &variable, json::Allocator &a) { return variable.toJson(a); }))
        .take();
}

size_t qHash(const EnvironmentProfileClearPayload &payload, size_t seed)
{
    return qHash(payload.variables, seed);
}
