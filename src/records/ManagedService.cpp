#include "records/ManagedService.h"

#include <QStringList>

namespace {

// The older layout ran an executable with arguments directly; as one shell line
// each word must reach the shell unchanged, so each is single-quoted.
QString singleQuoted(const QString &word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString commandFromExecutable(const QString &executablePath, const QStringList &arguments)
{
    QStringList words {singleQuoted(executablePath)};
    for (const QString &argument : arguments)
        words.append(singleQuoted(argument));
    return words.join(QLatin1Char(' '));
}

} // namespace

ManagedService ManagedService::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "ManagedService");
    ManagedService service;
    service.id = reader.uuid("id");
    service.name = reader.string("name");

    QString command = reader.optionalString("command").value_or(QString());
    const QString executablePath = reader.optionalString("executablePath").value_or(QString());
    const QStringList arguments = reader
                                      .optionalList("arguments",
                                                    [](const json::Value &element) {
                                                        return json::readString(element, QStringLiteral("an argument"));
                                                    })
                                      .value_or(QStringList());
    // Read only so that a mistyped value fails like any other; their meaning is gone.
    (void)reader.optionalString("launchMode");
    (void)reader.optionalString("workingDirectory");
    (void)reader.optionalBoolean("isProtected");

    if (command.trimmed().isEmpty() && !executablePath.isEmpty())
        command = commandFromExecutable(executablePath, arguments);
    service.command = command;
    service.openInTerminal = reader.optionalBoolean("openInTerminal").value_or(false);
    service.environmentProfileId = reader.optionalUuid("environmentProfileId");

    const QDateTime now = QDateTime::currentDateTimeUtc();
    service.createdAt = reader.optionalDate("createdAt").value_or(now);
    service.updatedAt = reader.optionalDate("updatedAt").value_or(now);
    return service;
}

json::Value ManagedService::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("id", id)
        .set("name", name)
        .set("command", command)
        .set("openInTerminal", openInTerminal)
        .setOptional("environmentProfileId", environmentProfileId)
        .set("createdAt", createdAt)
        .set("updatedAt", updatedAt)
        .take();
}

size_t qHash(const ManagedService &service, size_t seed)
{
    return qHashMulti(seed, service.id, service.name, service.command, service.openInTerminal,
                      service.environmentProfileId.value_or(QUuid()), service.environmentProfileId.has_value(),
                      service.createdAt, service.updatedAt);
}
