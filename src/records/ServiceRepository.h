#pragma once

#include "records/JSONFileStore.h"
#include "records/ManagedService.h"
#include "records/PersistedManagedServiceRecord.h"
#include "records/RecordListFile.h"
#include "records/ProtectedPayloadEnvelope.h"
#include "records/SerialExecutor.h"
#include "records/VersionedRecordsFile.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QUuid>

#include <functional>
#include <optional>

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
//
// The file can hold a hundred megabytes and more. While its bytes are still
// exactly what this repository last read or wrote (see RecordListFile), a
// load reuses the records decoded then, and an edit after a write of its own
// copies the stored text of the records it keeps around the ones it encodes;
// the bytes written are the same either way.
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
    // One record of an edit, and its index in the file's layout while its
    // stored text can be copied (-1 for a record to encode).
    struct Entry {
        PersistedManagedServiceRecord record;
        qsizetype stored = -1;
    };
    using Edit = std::function<void(QList<Entry> &)>;

    QList<PersistedManagedServiceRecord> readRecords();
    VersionedRecordsRead<PersistedManagedServiceRecord> readRecordsFile();
    LoadedServices readServices();
    static LoadedServices servicesOf(const QList<PersistedManagedServiceRecord> &records);
    void setRecordsFileReadable(bool readable);

    // Reads the records, applies `edit` and writes the result, which it returns.
    // Throws FileStoreError when the file could not be read (nothing is written)
    // or written, and whatever `edit` throws (nothing is written).
    QList<PersistedManagedServiceRecord> update(const Edit &edit);
    // Writes the entries over the bytes last read or written; false, writing
    // nothing, when the file no longer holds them.
    bool writePlan(const QList<Entry> &entries);
    // Writes the entries, encoding every record.
    void writeWhole(const QList<Entry> &entries);

    JSONFileStore<QList<PersistedManagedServiceRecord>> m_recordsStore;
    RecordListFile m_list;
    // The records of the list's layout, when it has one.
    std::optional<QList<PersistedManagedServiceRecord>> m_records;
    // Whether this repository wrote the layout's bytes: only then are they
    // known to be laid out as the encoder lays them out.
    bool m_layoutWrittenHere = false;
    // Takes a loaded file's layout while the executor's request decodes it;
    // only ever waited for by that request, so it outlives every wait.
    SerialExecutor m_layoutIndexer;
    SerialExecutor m_executor;
};
