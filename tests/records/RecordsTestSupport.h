#pragma once

#include "records/ApplicationSupport.h"
#include "records/ServiceRunRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>

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

inline QStringList setAsideFiles(const QString &name)
{
    return QDir(applicationSupportDirectory())
        .entryList({name + QStringLiteral(".unreadable-*")}, QDir::Files, QDir::Name);
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
