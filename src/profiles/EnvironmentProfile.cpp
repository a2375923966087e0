#include "profiles/EnvironmentProfile.h"

#include "profiles/EnvironmentProfileValidationError.h"

void EnvironmentProfile::validateKeys(const QList<EnvironmentProfile> &profiles)
{
    for (const EnvironmentProfile &profile : profiles) {
        for (const EnvironmentVariable &variable : profile.variables) {
            // A blank key is kept as typed and left out of every launch; it is no error.
            if (EnvironmentVariable::trimmedKey(variable.key).isEmpty())
                continue;
            if (!EnvironmentVariable::isValidKey(variable.key))
                throw EnvironmentProfileValidationError::invalidVariableKey(variable.key);
        }
    }
}

EnvironmentProfile EnvironmentProfile::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "EnvironmentProfile");
    EnvironmentProfile profile;
    profile.id = reader.uuid("id");
    profile.name = reader.string("name");
    profile.variables =
        reader.optionalList("variables", EnvironmentVariable::fromJson).value_or(QList<EnvironmentVariable>());
    profile.isProtected = reader.optionalBoolean("isProtected").value_or(false);
    // Each missing date reads the clock on its own.
    profile.createdAt = reader.optionalDate("createdAt").value_or(QDateTime::currentDateTimeUtc());
    profile.updatedAt = reader.optionalDate("updatedAt").value_or(QDateTime::currentDateTimeUtc());
    return profile;
}

json::Value EnvironmentProfile::toJson(json::Allocator &allocator) const
{
    json::ObjectWriter writer(allocator);
    writer.set("id", id)
        .set("name", name)
        .set("variables",
             json::makeList(variables, allocator,
                            [](const EnvironmentVariable &variable, json::Allocator &a) { return variable.toJson(a); }))
        .set("isProtected", isProtected)
        .set("createdAt", createdAt)
        .set("updatedAt", updatedAt);
    return writer.take();
}

size_t qHash(const EnvironmentProfile &profile, size_t seed)
{
    return qHashMulti(seed, profile.id, profile.name, profile.variables, profile.isProtected, profile.createdAt,
                      profile.updatedAt);
}
