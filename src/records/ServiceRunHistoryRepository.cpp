#include "records/ServiceRunHistoryRepository.h"

#include <QHash>

QList<ServiceRunRecord> limitRunHistoryPerService(QList<ServiceRunRecord> records)
{
    // Walks from the front, so the newest records of each service are the ones kept.
    QHash<QUuid, qsizetype> counts;
    QList<ServiceRunRecord> kept;
    kept.reserve(records.size());
    for (ServiceRunRecord &record : records) {
        qsizetype &count = counts[record.serviceId];
        if (count >= ServiceRunHistoryRepository::maximumRecordsPerService)
            continue;
        ++count;
        kept.append(std::move(record));
    }
    return kept;
}

ServiceRunHistoryRepository::ServiceRunHistoryRepository(const QString &path) : m_store(path) {}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::append(const ServiceRunRecord &record)
{
    return m_executor.run([this, record] {
        QList<ServiceRunRecord> records = m_store.load({});
        ServiceRunRecord masked = record;
        redactSecretEnvironmentEntriesInPlace(masked.environment);
        records.prepend(std::move(masked));
        records = limitRunHistoryPerService(std::move(records));
        m_store.save(records);
        return records;
    });
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::load()
{
    return m_executor.run([this] { return m_store.load({}); });
}

QFuture<void> ServiceRunHistoryRepository::deleteRecord(const QUuid &recordId)
{
    return m_executor.run([this, recordId] {
        QList<ServiceRunRecord> records = m_store.load({});
        records.removeIf([&](const ServiceRunRecord &record) { return record.id == recordId; });
        m_store.save(records);
    });
}

QFuture<void> ServiceRunHistoryRepository::clear(const QUuid &serviceId)
{
    return m_executor.run([this, serviceId] {
        QList<ServiceRunRecord> records = m_store.load({});
        records.removeIf([&](const ServiceRunRecord &record) { return record.serviceId == serviceId; });
        m_store.save(records);
    });
}

QFuture<void> ServiceRunHistoryRepository::replaceAll(const QList<ServiceRunRecord> &records)
{
    return m_executor.run([this, records] { m_store.save(records); });
}
