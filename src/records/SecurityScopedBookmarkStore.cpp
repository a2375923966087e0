#include "records/SecurityScopedBookmarkStore.h"

#include "records/FileStoreError.h"
#include "records/Json.h"

#include <QFileInfo>

namespace {

QMap<QString, QByteArray> decodeBookmarks(QByteArray bytes)
{
    const json::ParsedDocument parsed = json::parse(std::move(bytes));
    const json::Value &root = parsed.root();
    if (!root.IsObject())
        throw json::DecodeError(QStringLiteral("bookmarks.json is not an object."));
    QMap<QString, QByteArray> bookmarks;
    for (auto it = root.MemberBegin(); it != root.MemberEnd(); ++it) {
        const QString path = json::readString(it->name, QStringLiteral("a bookmark path"));
        bookmarks.insert(path, json::readData(it->value, json::excerpt(path)));
    }
    return bookmarks;
}

} // namespace

SecurityScopedBookmarkStore::SecurityScopedBookmarkStore(const QString &path)
    : m_file(path)
{
    // A bookmarks.json that does not decode starts the map afresh (nothing reads
    // bookmarks back).
    std::lock_guard lock(m_file.mutex());
    try {
        readStoredLocked();
    } catch (const FileStoreError &) {
        // Not read at all: it is read again before the first write.
    }
}

void SecurityScopedBookmarkStore::readStoredLocked()
{
    std::optional<QByteArray> bytes = m_file.readLocked();
    if (!bytes)
        return;
    try {
        QMap<QString, QByteArray> stored = decodeBookmarks(std::move(*bytes));
        stored.insert(m_bookmarks);
        m_bookmarks = std::move(stored);
        m_file.markReadable();
    } catch (const json::DecodeError &) {
        m_file.markUnreadable();
    }
}

QFuture<void> SecurityScopedBookmarkStore::rememberBookmark(const QString &path)
{
    return m_executor.run([this, path] { rememberNow(path); });
}

QFuture<QMap<QString, QByteArray>> SecurityScopedBookmarkStore::bookmarks()
{
    return m_executor.run([this] { return m_bookmarks; });
}

void SecurityScopedBookmarkStore::rememberNow(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw FileStoreError(QStringLiteral("The item “%1” couldn’t be found.").arg(info.fileName()));
    const QString key = info.absoluteFilePath();
    m_bookmarks.insert(key, key.toUtf8());

    std::lock_guard lock(m_file.mutex());
    // The file's own entries were never read: writing now would drop them.
    if (m_file.lastReadFailed())
        readStoredLocked();

    json::Document document;
    json::Value object(rapidjson::kObjectType);
    for (auto it = m_bookmarks.cbegin(); it != m_bookmarks.cend(); ++it) {
        object.AddMember(json::makeString(it.key(), document.GetAllocator()),
                         json::makeString(QString::fromLatin1(it.value().toBase64()), document.GetAllocator()),
                         document.GetAllocator());
    }
    m_file.writeLocked(json::serializeCompact(object));
}
