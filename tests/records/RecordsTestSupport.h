#pragma once

#include "records/ApplicationSupport.h"
#include "records/JsonCodec.h"
#include "records/ServiceRunRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>

#include <ostream>

#include <sys/stat.h>

// Shared by the records tests: data-folder files and run records to work with.
namespace records_test {

inline QString dataFile(const QString &name)
{
    return applicationSupportDirectory() + QLatin1Char('/') + name;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write test file");
    file.write(bytes);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString historyFile = QStringLiteral("run-history.json");

// What run-history.json holds now; throws json::DecodeError when it does not decode.
inline QList<ServiceRunRecord> storedRuns()
{
    return decodeJson<QList<ServiceRunRecord>>(readFile(dataFile(historyFile)));
}

inline QList<QUuid> idsOf(const QList<ServiceRunRecord> &records)
{
    QList<QUuid> ids;
    for (const ServiceRunRecord &record : records)
        ids.append(record.id);
    return ids;
}

inline QStringList setAsideFiles(const QString &name)
{
    return QDir(applicationSupportDirectory())
        .entryList({name + QStringLiteral(".unreadable-*")}, QDir::Files, QDir::Name);
}

inline ino_t inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

inline QDateTime at(qint64 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, QTimeZone::utc());
}

// A run of `serviceId` that started at `started` (whole seconds, so it survives a save).
inline ServiceRunRecord makeRun(const QUuid &serviceId, qint64 started, const QString &output = QString())
{
    ServiceRunRecord record;
    record.id = QUuid::createUuid();
    record.serviceId = serviceId;
    record.startedAt = at(started);
    record.endedAt = at(started + 5);
    record.stopReason = ServiceRunStopReason::exited;
    record.output = output;
    return record;
}

} // namespace records_test

// Readable failure messages for the records tests.
inline void PrintTo(const ServiceRunRecord &record, std::ostream *stream)
{
    *stream << "run " << json::formatUuid(record.id).toStdString() << " started "
            << json::formatDate(record.startedAt).toStdString();
}

inline void PrintTo(const QUuid &id, std::ostream *stream)
{
    *stream << json::formatUuid(id).toStdString();
}
