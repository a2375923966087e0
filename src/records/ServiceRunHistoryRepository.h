#pragma once

#include "records/JSONFileStore.h"
#include "records/SerialExecutor.h"
#include "records/ServiceRunRecord.h"

#include <QFuture>
#include <QList>
#include <QUuid>

// Keeps the first `maximumRecordsPerService` records of every service, in order.
QList<ServiceRunRecord> limitRunHistoryPerService(QList<ServiceRunRecord> records);

// run-history.json, one request at a time. Every write replaces the whole file
// atomically with every secret value masked; appends keep at most 50 runs per
// service.
// Write failures (FileStoreError) reach the caller through the future and leave
// the previous file untouched; an unreadable file is set aside, not overwritten.
class ServiceRunHistoryRepository {
public:
    static constexpr qsizetype maximumRecordsPerService = 50;

    explicit ServiceRunHistoryRepository(const QString &path);

    const QString &path() const { return m_store.path(); }

    // Inserts the record first (its secrets masked), trims every service and
    // writes; returns the list as written.
    QFuture<QList<ServiceRunRecord>> append(const ServiceRunRecord &record);
    // The stored list as it is: no masking, sorting or limit. Never fails.
    QFuture<QList<ServiceRunRecord>> load();
    // Removes every record with this id (the file is rewritten even when none matched).
    QFuture<void> deleteRecord(const QUuid &recordId);
    // Removes every record of this service.
    QFuture<void> clear(const QUuid &serviceId);
    // Writes the list in its order, unlimited.
    QFuture<void> replaceAll(const QList<ServiceRunRecord> &records);

private:
    void write(QList<ServiceRunRecord> &records);

    JSONFileStore<QList<ServiceRunRecord>> m_store;
    SerialExecutor m_executor;
};
