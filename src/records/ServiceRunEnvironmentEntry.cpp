#include "records/ServiceRunEnvironmentEntry.h"

ServiceRunEnvironmentEntry ServiceRunEnvironmentEntry::forVariable(const QString &key, const QString &value,
                                                                   bool isSecret)
{
    return {key, isSecret ? secretMask : value, isSecret};
}

ServiceRunEnvironmentEntry ServiceRunEnvironmentEntry::redacted() const
{
    return {key, isSecret ? secretMask : value, isSecret};
}

ServiceRunEnvironmentEntry ServiceRunEnvironmentEntry::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "ServiceRunEnvironmentEntry");
    return {reader.string("key"), reader.string("value"), reader.boolean("isSecret")};
}

json::Value ServiceRunEnvironmentEntry::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator).set("key", key).set("value", value).set("isSecret", isSecret).take();
}

size_t qHash(const ServiceRunEnvironmentEntry &entry, size_t seed)
{
    return qHashMulti(seed, entry.key, entry.value, entry.isSecret);
}

QList<ServiceRunEnvironmentEntry> redactSecretEnvironmentEntries(const QList<ServiceRunEnvironmentEntry> &entries)
{
    QList<ServiceRunEnvironmentEntry> result = entries;
    redactSecretEnvironmentEntriesInPlace(result);
    return result;
}

bool redactSecretEnvironmentEntriesInPlace(QList<ServiceRunEnvironmentEntry> &entries)
{
    bool changed = false;
    // Read through a const view first so an unchanged list is never detached.
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const ServiceRunEnvironmentEntry &entry = std::as_const(entries)[index];
        if (entry.isSecret && entry.value != ServiceRunEnvironmentEntry::secretMask) {
            entries[index].value = ServiceRunEnvironmentEntry::secretMask;
            changed = true;
        }
    }
    return changed;
}
