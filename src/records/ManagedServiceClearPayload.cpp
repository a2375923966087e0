#include "records/ManagedServiceClearPayload.h"

ManagedServiceClearPayload ManagedServiceClearPayload::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "ManagedServiceClearPayload");
    return {reader.string("command"), reader.boolean("openInTerminal"), reader.optionalUuid("environmentProfileId")};
}

json::Value ManagedServiceClearPayload::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("command", command)
        .set("openInTerminal", openInTerminal)
        .setOptional("environmentProfileId", environmentProfileId)
        .take();
}

size_t qHash(const ManagedServiceClearPayload &payload, size_t seed)
{
    return qHashMulti(seed, payload.command, payload.openInTerminal, payload.environmentProfileId.value_or(QUuid()),
                      payload.environmentProfileId.has_value());
}
