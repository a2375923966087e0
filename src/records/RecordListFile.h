#pragma once

#include "records/ContentHash.h"
#include "records/Json.h"
#include "records/JsonFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtConcurrent/QtConcurrentMap>

#include <functional>
#include <optional>

// A large data file holding one JSON array of records, laid out as
// json::prettyList says. It knows where each element's text lies in the bytes
// it last read or wrote, with a hash of that text, so that a write can copy
// the records it keeps from the old file instead of encoding them again, and
// one record can be read back alone. Every call named "…Locked" needs the
// file's lock (file().mutex()) held.
//
// Offsets fit only the very bytes read or written: neither a path check nor
// the timestamps (coarse on many file systems) can tell an edit of the same
// size apart, the contents can. So a write checks every byte of the old file
// as it copies: the punctuation between elements and the hash of each one.
// At the first difference it writes nothing and says so; the owner then
// takes its full path (a fresh read and a whole encode).
class RecordListFile {
public:
    struct Element {
        qsizetype offset = 0;
        qsizetype length = 0;
        size_t hash = 0; // of the text, seeded per file object
    };
    struct Layout {
        qsizetype size = 0;
        QList<Element> elements;
    };

    // One element of a list to write: a stored element by its index in the
    // layout, copied as it is or (with `rewrite`) handed its stored text to
    // make the text written in its place; or a new element whose text `make`
    // gives. Stored elements appear in their stored order; one the plan does
    // not name is left out.
    struct Piece {
        qsizetype stored = -1;
        // nullopt keeps the stored text. A json::DecodeError counts as a
        // difference in the file.
        std::function<std::optional<QByteArray>(QByteArrayView stored)> rewrite;
        std::function<QByteArray()> make;

        static Piece keep(qsizetype stored) { return {stored, {}, {}}; }
        static Piece record(std::function<QByteArray()> make) { return {-1, {}, std::move(make)}; }
    };
    enum class PlanResult {
        written,
        unchanged,     // nothing was rewritten differently, and the plan asked to write only then
        storedChanged, // the file no longer holds the layout's bytes: nothing was written
    };

    // The file stays its owner's (a store that also reads and writes it whole).
    explicit RecordListFile(JsonFile &file);

    JsonFile &file() { return m_file; }

    // The layout of the bytes last read or written, if they were a list of records.
    const std::optional<Layout> &layout() const { return m_layout; }
    void forgetLayout() { m_layout.reset(); }

    // Where each element of a top-level JSON array of objects lies, or nullopt
    // when the text is not one (the full decode then says what is wrong).
    static std::optional<QList<json::TextSpan>> elementSpans(QByteArrayView text);

    // The objects that still stand whole in a damaged list (their braces and
    // strings closed), in order; `leftOver` counts the bytes that are neither
    // inside them nor white space or the list's marks.
    static QList<json::TextSpan> wholeElementSpans(QByteArrayView text, qsizetype &leftOver);

    // Whether the file still holds the layout's bytes, read through once; else
    // the layout is forgotten. Throws FileStoreError when the file cannot be read.
    bool holdsLayoutLocked();

    // Takes the layout of `bytes`, just read from the file; false (no layout)
    // when they are not a list of objects.
    bool indexLocked(QByteArrayView bytes);
    // As above, decoding each element's text with `decode` (on several cores
    // for a large file); nullopt, with no layout, when one gives nullopt.
    template <typename Record, typename Decode>
    std::optional<QList<Record>> indexLocked(QByteArrayView bytes, Decode decode);

    // The stored text of element `index`, read back alone; nullopt when the
    // file no longer holds it. Throws FileStoreError when the file cannot be read.
    std::optional<QByteArray> readElementLocked(qsizetype index);

    // Writes the list `plan` makes, streaming the stored file once; the new
    // layout replaces the old. With `onlyIfRewritten`, writes only when a
    // rewrite changed a text. Throws FileStoreError when the write fails (the
    // layout is then unknown).
    PlanResult writePlanLocked(const QList<Piece> &plan, bool onlyIfRewritten = false);
    // Writes a whole new list: `produce` hands each element's text to the sink, in order.
    using ElementSink = std::function<void(QByteArrayView element)>;
    void writeWholeLocked(const std::function<void(const ElementSink &)> &produce);

private:
    class StoredCopy;
    // Writes the marks and elements of a list, noting where each element lands.
    class Writer;

    size_t hashOf(QByteArrayView bytes) const { return ContentHash::of(bytes, m_hashSeed); }

    // From this size of file on, elements are indexed on several cores.
    static constexpr qsizetype parallelIndexSize = qsizetype(8) << 20;

    JsonFile &m_file;
    size_t m_hashSeed = 0;
    std::optional<Layout> m_layout;
};

template <typename Record, typename Decode>
std::optional<QList<Record>> RecordListFile::indexLocked(QByteArrayView bytes, Decode decode)
{
    m_layout.reset();
    const std::optional<QList<json::TextSpan>> spans = elementSpans(bytes);
    if (!spans)
        return std::nullopt;
    struct Indexed {
        std::optional<Record> record;
        size_t hash = 0;
    };
    const auto one = [&](const json::TextSpan &span) {
        const QByteArrayView text = bytes.sliced(span.offset, span.length);
        return Indexed {decode(text), hashOf(text)};
    };
    QList<Indexed> indexed;
    if (bytes.size() >= parallelIndexSize) {
        indexed = QtConcurrent::blockingMapped<QList<Indexed>>(*spans, one);
    } else {
        indexed.reserve(spans->size());
        for (const json::TextSpan &span : *spans)
            indexed.append(one(span));
    }
    Layout layout {bytes.size(), {}};
    layout.elements.reserve(indexed.size());
    QList<Record> records;
    records.reserve(indexed.size());
    for (qsizetype position = 0; position < indexed.size(); ++position) {
        if (!indexed[position].record)
            return std::nullopt;
        const json::TextSpan &span = spans->at(position);
        layout.elements.append({span.offset, span.length, indexed[position].hash});
        records.append(std::move(*indexed[position].record));
    }
    m_layout = std::move(layout);
    return records;
}
