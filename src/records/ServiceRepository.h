#pragma once

#include "records/JSONFileStore.h"
#include "records/ManagedService.h"
#include "records/PersistedManagedServiceRecord.h"
#include "records/ProtectedPayloadEnvelope.h"
#include "records/SerialExecutor.h"
#include "records/VersionedRecordsFile.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QUuid>

#include <functional>

// What loadServices yields: the services in file order, and the ids of those
// still stored in the older encrypted form (their entries are placeholders
// with an empty command until migrated).
struct LoadedServices {
    QList<ManagedService> services;
    QSet<QUuid> legacyEncryptedServiceIDs;

    friend bool operator==(const LoadedServices &, const LoadedServices &) = default;
};

// Opens one older encrypted service payload and returns its plaintext JSON
// bytes; throws ProtectedProfilesError decryptionFailed when it cannot. Called
// on the repository's own thread.
using ProtectedServicePayloadOpener =
    std::function<QByteArray(const QUuid &serviceId, const ProtectedPayloadEnvelope &envelope)>;

// services.json, one request at a time. Reads the current layout, the same
// layout with older encrypted records, and the oldest plain list of services;
// every write is in the current layout. A damaged record is logged and left
// out, and the file is kept aside byte for byte before the next write.
class ServiceRepository {
public:
    explicit ServiceRepository(const QString &path);

    const QString &path() const { return m_recordsStore.path(); }

    // Never fail: a missing file gives an empty list; an unusable one, or the
    // records of one that cannot be read, are logged and left out.
    QFuture<QList<PersistedManagedServiceRecord>> loadRecords();
    QFuture<LoadedServices> loadServices();

    // Inserts or replaces the service (fields stored exactly as given) and returns
    // the services as written. Throws FileStoreError when the file cannot be
    // read (it is left untouched) or written, and
    // ProtectedProfilesError locked when the stored record of that id is still
    // encrypted: it must be migrated first, or its command would be lost.
    QFuture<QList<ManagedService>> saveService(const ManagedService &service);

    // Removes every record with that id; throws FileStoreError on a failed read or write.
    QFuture<void> deleteService(const QUuid &serviceId);

    // Rewrites every encrypted record as a clear one and returns the services
    // as written. Throws ProtectedProfilesError (locked for a record without its
    // envelope, decryptionFailed for one that cannot be opened) or FileStoreError;
    // on any failure nothing is written.
    QFuture<QList<ManagedService>> migrateLegacyEncryptedRecords(ProtectedServicePayloadOpener opener);

private:
    QList<PersistedManagedServiceRecord> readRecords();
    // Throws FileStoreError when the file could not be read at all.
    QList<PersistedManagedServiceRecord> readRecordsForUpdate();
    VersionedRecordsRead<PersistedManagedServiceRecord> readRecordsFile();
    LoadedServices readServices();
    static LoadedServices servicesOf(const QList<PersistedManagedServiceRecord> &records);
    void setRecordsFileReadable(bool readable);

    JSONFileStore<QList<PersistedManagedServiceRecord>> m_recordsStore;
    SerialExecutor m_executor;
};
