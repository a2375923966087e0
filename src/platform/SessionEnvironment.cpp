#include "platform/SessionEnvironment.h"

#include <cstdlib>

extern char **environ;

namespace {

// Written only by setAside, which runs before the threads that launch.
QList<QByteArray> &entriesSetAside()
{
    static QList<QByteArray> entries;
    return entries;
}

QByteArray nameOf(const QByteArray &entry)
{
    return entry.left(entry.indexOf('='));
}

} // namespace

void SessionEnvironment::setAside(const char *name)
{
    const char *value = std::getenv(name);
    if (!value)
        return;
    entriesSetAside().append(QByteArray(name) + '=' + value);
    ::unsetenv(name);
}

QList<QByteArray> SessionEnvironment::entries()
{
    QList<QByteArray> result;
    for (char **entry = environ; entry && *entry; ++entry)
        result.append(QByteArray(*entry));
    for (const QByteArray &entry : entriesSetAside()) {
        if (!std::getenv(nameOf(entry).constData()))
            result.append(entry);
    }
    return result;
}
