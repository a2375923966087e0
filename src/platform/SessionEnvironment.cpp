#include "platform/SessionEnvironment.h"

#include <QHash>

#include <cstdlib>
#include <optional>

extern char **environ;

namespace {

// Each name the start changed, with the session's entry for it (none where
// the session had none). Written only before the threads that launch start.
QHash<QByteArray, std::optional<QByteArray>> &sessionEntries()
{
    static QHash<QByteArray, std::optional<QByteArray>> entries;
    return entries;
}

void rememberSessionEntry(const char *name)
{
    if (sessionEntries().contains(name))
        return;
    const char *value = std::getenv(name);
    sessionEntries().insert(name, value ? std::optional(QByteArray(name) + '=' + value) : std::nullopt);
}

} // namespace

void SessionEnvironment::setAside(const char *name)
{
    rememberSessionEntry(name);
    ::unsetenv(name);
}

void SessionEnvironment::setForThisProcess(const char *name, const QByteArray &value)
{
    rememberSessionEntry(name);
    qputenv(name, value);
}

QList<QByteArray> SessionEnvironment::entries()
{
    QList<QByteArray> result;
    for (char **entry = environ; entry && *entry; ++entry) {
        const QByteArray text(*entry);
        if (!sessionEntries().contains(text.left(text.indexOf('='))))
            result.append(text);
    }
    for (const std::optional<QByteArray> &entry : std::as_const(sessionEntries())) {
        if (entry)
            result.append(*entry);
    }
    return result;
}
