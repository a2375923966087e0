#pragma once

#include "records/CurrentLayoutMarker.h"
#include "records/FileStoreError.h"
#include "records/Json.h"
#include "records/JsonFile.h"

#include <QList>
#include <QtConcurrent/QtConcurrentMap>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>

// What one read of services.json or environments.json gave.
template <typename Record>
struct VersionedRecordsRead {
    QList<Record> records;      // every record that decoded, in file order (also one without its payload)
    QStringList failures;       // what did not decode, one line each, for the log
    bool currentLayout = false; // the file names the current layout's marker
    // Set when the file could not be read at all (an I/O error, no memory):
    // the records are then unknown, which is no damage to the file.
    std::optional<FileStoreError> readError;
    bool complete() const { return failures.isEmpty() && !readError; }
    // For an operation that writes back what it read.
    void requireRead() const
    {
        if (readError)
            throw *readError;
    }
};

namespace versioned_records_detail {

inline QString recordName(const json::Value &element, qsizetype index)
{
    QString position = QStringLiteral("Record %1").arg(index + 1);
    if (!element.IsObject())
        return position;
    const auto id = element.FindMember("id");
    if (id == element.MemberEnd() || !id->value.IsString())
        return position;
    return position + QStringLiteral(" (“%1”)").arg(json::excerpt(json::readString(id->value, QString())));
}

// From this size of file on, records are decoded in parallel.
constexpr qsizetype parallelDecodeSize = qsizetype(8) << 20;

inline bool hasMember(const json::Value &element, const char *key)
{
    return element.IsObject() && element.FindMember(key) != element.MemberEnd();
}

} // namespace versioned_records_detail

// The part of readVersionedRecords after the read: decodes `bytes`, read from
// `file` under its lock, which the caller still holds. `beforeParse` runs
// right before the parser starts to decode the bytes in place: until then
// another thread may still read them.
template <typename Record, typename ConvertLegacy>
VersionedRecordsRead<Record>
decodeVersionedRecords(JsonFile &file, QByteArray bytes, std::initializer_list<const char *> legacyKeys,
                       ConvertLegacy convertLegacy, const std::function<void()> &beforeParse = {})
{
    using namespace versioned_records_detail;
    VersionedRecordsRead<Record> read;
    // One check of the whole text for UTF-8 serves the marker and the parser.
    const bool validText = QByteArrayView(bytes).isValidUtf8();
    read.currentLayout = validText && holdsCurrentLayoutMarkerInUtf8(bytes);

    if (beforeParse)
        beforeParse();
    json::ParsedDocument parsed;
    try {
        parsed = validText ? json::parseUtf8(std::move(bytes)) : json::parse(std::move(bytes));
        json::requireArray(parsed.root(), QStringLiteral("the list"));
    } catch (const json::DecodeError &error) {
        read.failures.append(error.message());
        return read;
    } catch (const std::bad_alloc &) {
        file.setLastReadFailed();
        read.readError.emplace(
            QStringLiteral("The file “%1” couldn’t be read: there isn’t enough memory.").arg(file.fileName()));
        return read;
    }

    const auto elements = parsed.root().GetArray();
    const bool markedFile = std::any_of(elements.begin(), elements.end(),
                                        [](const json::Value &element) { return hasMember(element, "formatVersion"); });
    // What one element gave: a record, a failure, or (a record the file must not have) both.
    struct Decoded {
        std::optional<Record> record;
        QString failure;
    };
    const auto decode = [&](qsizetype index) {
        const json::Value &element = elements[static_cast<rapidjson::SizeType>(index)];
        Decoded decoded;
        try {
            if (hasMember(element, "formatVersion")) {
                decoded.record = Record::fromJson(element);
                // Kept in the list, where the repository refuses to use it, but
                // the file is damage all the same.
                if (!decoded.record->isProtected && !decoded.record->clearPayload)
                    throw json::DecodeError(QStringLiteral("It is not protected and has no clear payload."));
            } else if (markedFile) {
                throw json::DecodeError(QStringLiteral("It lacks the “formatVersion” the other records have."));
            } else {
                for (const char *key : {"clearPayload", "encryptedPayload", "protectionVersion"}) {
                    if (hasMember(element, key))
                        throw json::DecodeError(
                            QStringLiteral("It has “%1” but no “formatVersion”.").arg(QString::fromLatin1(key)));
                }
                if (legacyKeys.size() > 0 && std::none_of(legacyKeys.begin(), legacyKeys.end(), [&](const char *key) {
                        return hasMember(element, key);
                    }))
                    throw json::DecodeError(QStringLiteral("It fits neither the current nor the older layout."));
                decoded.record = convertLegacy(element);
            }
        } catch (const json::DecodeError &error) {
            decoded.failure =
                QStringLiteral("%1 couldn’t be read: %2").arg(recordName(element, index), error.message());
        }
        return decoded;
    };
    QList<qsizetype> indices(static_cast<qsizetype>(elements.Size()));
    std::iota(indices.begin(), indices.end(), qsizetype(0));
    QList<Decoded> decoded;
    if (parsed.buffer.size() >= parallelDecodeSize && indices.size() > 1) {
        // A large file's records decode on several cores: most of the time goes
        // into the fresh memory their text takes, which one core fills only so fast.
        decoded = QtConcurrent::blockingMapped<QList<Decoded>>(indices, decode);
    } else {
        decoded.reserve(indices.size());
        for (const qsizetype index : std::as_const(indices))
            decoded.append(decode(index));
    }
    read.records.reserve(decoded.size());
    for (Decoded &element : decoded) {
        if (element.record)
            read.records.append(std::move(*element.record));
        if (!element.failure.isEmpty())
            read.failures.append(element.failure);
    }
    return read;
}

// Reads the file record by record, under its lock. A record of the current
// layout names "formatVersion"; a file in which no record does is of the older
// layout, whose records `convertLegacy` turns into current ones and which carry
// one of `legacyKeys` (when any are named). A record that fits neither layout, a key that
// appears twice, an unprotected record without its clear payload, or a record
// without the marker in a file that has it is damage: the other records load,
// the damage is listed, and the caller keeps the file aside before its next write.
// A file that cannot be read at all gives no records and `readError`.
template <typename Record, typename ConvertLegacy>
VersionedRecordsRead<Record> readVersionedRecords(JsonFile &file, std::initializer_list<const char *> legacyKeys,
                                                  ConvertLegacy convertLegacy)
{
    std::lock_guard lock(file.mutex());
    std::optional<QByteArray> bytes;
    try {
        bytes = file.readLocked();
    } catch (const FileStoreError &error) {
        VersionedRecordsRead<Record> read;
        read.readError = error;
        return read;
    }
    if (!bytes)
        return {};
    return decodeVersionedRecords<Record>(file, std::move(*bytes), legacyKeys, convertLegacy);
}
