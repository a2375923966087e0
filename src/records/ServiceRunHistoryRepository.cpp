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

void ServiceRunHistoryRepository::write(QList<ServiceRunRecord> &records)
{
    // Every record, not only a new one: a clear value in a hand-edited file must
    // not be written back. Unchanged records are not copied.
    for (qsizetype index = 0; index < records.size(); ++index) {
        if (std::as_const(records)[index].environment.isEmpty())
            continue;
        QList<ServiceRunEnvironmentEntry> environment = std::as_const(records)[index].environment;
        if (redactSecretEnvironmentEntriesInPlace(environment))
            records[index].environment = std::move(environment);
    }
    m_store.save(records);
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::append(const ServiceRunRecord &record)
{
    return m_executor.run([this, record] {
        QList<ServiceRunRecord> records = m_store.load({});
        records.prepend(record);
        records = limitRunHistoryPerService(std::move(records));
        write(records);
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
        write(records);
    });
}

QFuture<void> ServiceRunHistoryRepository::clear(const QUuid &serviceId)
{
    return m_executor.run([this, serviceId] {
        QList<ServiceRunRecord> records = m_store.load({});
        records.removeIf([&](const ServiceRunRecord &record) { return record.serviceId == serviceId; });
        write(records);
    });
}

QFuture<void> ServiceRunHistoryRepository::replaceAll(const QList<ServiceRunRecord> &records)
{
    return m_executor.run([this, list = records]() mutable { write(list); });
}
