#include "records/RecordListFile.h"

#include <QRandomGenerator>

#include <cstring>

namespace {

bool isJsonSpace(char character)
{
    return character == ' ' || character == '\n' || character == '\r' || character == '\t';
}

qsizetype skipSpace(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isJsonSpace(text[at]))
        ++at;
    return at;
}

// The quote that closes the string opened at `quote`, or -1. A quote is
// escaped exactly when an odd run of backslashes stands before it; long
// strings are crossed by memchr, not byte by byte.
qsizetype stringEnd(QByteArrayView text, qsizetype quote)
{
    qsizetype at = quote + 1;
    while (at < text.size()) {
        const void *found = std::memchr(text.data() + at, '"', static_cast<size_t>(text.size() - at));
        if (!found)
            return -1;
        const qsizetype end = static_cast<const char *>(found) - text.data();
        qsizetype backslashes = 0;
        while (end - backslashes - 1 > quote && text[end - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return end;
        at = end + 1;
    }
    return -1;
}

// One past the brace that closes the object opened at `start`, or -1. Only
// nesting and strings are followed: what lies between is the parser's to judge.
qsizetype objectEnd(QByteArrayView text, qsizetype start)
{
    qsizetype depth = 0;
    for (qsizetype at = start; at < text.size(); ++at) {
        switch (text[at]) {
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            if (--depth == 0)
                return text[at] == '}' ? at + 1 : -1;
            break;
        case '"':
            at = stringEnd(text, at);
            if (at < 0)
                return -1;
            break;
        default:
            break;
        }
    }
    return -1;
}

// The marks, besides white space, that stand in a gap of a list: before the
// first element, between two, after the last, or in an empty list.
QByteArray marksOf(QByteArrayView punctuation)
{
    QByteArray marks;
    for (const char character : punctuation) {
        if (!isJsonSpace(character))
            marks.append(character);
    }
    return marks;
}

// Thrown inside a write from a plan to end it, writing nothing.
enum class PlanStop { storedChanged, unchanged };

} // namespace

class RecordListFile::Writer {
public:
    Writer(const JsonFile::WriteSink &put, Layout &layout)
        : m_put(put),
          m_layout(layout)
    {}

    // The mark before an element, which then starts at the layout's size.
    void startElement(size_t hash)
    {
        write(json::prettyList::before(m_layout.elements.size()));
        m_layout.elements.append({m_layout.size, 0, hash});
    }
    void elementBytes(QByteArrayView bytes)
    {
        write(bytes);
        m_layout.elements.last().length += bytes.size();
    }
    void element(QByteArrayView text, size_t hash)
    {
        startElement(hash);
        elementBytes(text);
    }
    void finish() { write(json::prettyList::after(m_layout.elements.size())); }

private:
    void write(QByteArrayView bytes)
    {
        m_put(bytes);
        m_layout.size += bytes.size();
    }

    const JsonFile::WriteSink &m_put;
    Layout &m_layout;
};

// Follows the stored file as it is read through, front to back, against its
// layout: only white space and the list's marks between elements, and each
// element's hash. Meanwhile it puts out the plan's pieces in order: new ones
// when their turn comes, stored ones as they pass. Throws PlanStop at the
// first byte that differs.
class RecordListFile::StoredCopy {
public:
    StoredCopy(const RecordListFile &list, const Layout &stored, const QList<Piece> &plan, Writer &out)
        : m_list(list),
          m_stored(stored),
          m_plan(plan),
          m_out(out),
          m_hash(list.m_hashSeed)
    {
        putNewPieces();
    }

    void consume(QByteArrayView piece)
    {
        while (true) {
            const qsizetype end = m_inElement ? element().offset + element().length : gapEnd();
            if (m_position == end && !m_done) {
                m_inElement ? endElement() : endGap();
                continue;
            }
            if (piece.isEmpty())
                return;
            if (m_done)
                throw PlanStop::storedChanged; // the file goes on
            const QByteArrayView chunk = piece.first(std::min(piece.size(), end - m_position));
            m_inElement ? elementBytes(chunk) : gapBytes(chunk);
            m_position += chunk.size();
            piece = piece.sliced(chunk.size());
        }
    }
    void finish() const
    {
        if (!m_done || m_nextPiece < m_plan.size())
            throw PlanStop::storedChanged; // the file ends early
    }
    bool rewritten() const { return m_rewritten; }

private:
    enum class Action { drop, keep, rewrite };

    const Element &element() const { return m_stored.elements.at(m_next); }
    bool atLastGap() const { return m_next == m_stored.elements.size(); }
    qsizetype gapEnd() const { return atLastGap() ? m_stored.size : element().offset; }

    void putNewPieces()
    {
        for (; m_nextPiece < m_plan.size() && m_plan.at(m_nextPiece).stored < 0; ++m_nextPiece) {
            const QByteArray text = m_plan.at(m_nextPiece).make();
            m_out.element(text, m_list.hashOf(text));
        }
    }

    void gapBytes(QByteArrayView bytes)
    {
        for (const char character : bytes) {
            if (isJsonSpace(character))
                continue;
            m_marks.append(character);
            if (m_marks.size() > 2)
                throw PlanStop::storedChanged;
        }
    }
    void endGap()
    {
        const QByteArray expected =
            marksOf(atLastGap() ? json::prettyList::after(m_stored.elements.size()) : json::prettyList::before(m_next));
        if (m_marks != expected)
            throw PlanStop::storedChanged;
        m_marks.clear();
        if (atLastGap()) {
            m_done = true;
            return;
        }
        m_inElement = true;
        m_hash = ContentHash(m_list.m_hashSeed);
        m_text.clear();
        m_action = Action::drop;
        if (m_nextPiece < m_plan.size() && m_plan.at(m_nextPiece).stored == m_next)
            m_action = m_plan.at(m_nextPiece).rewrite ? Action::rewrite : Action::keep;
        if (m_action == Action::keep)
            m_out.startElement(element().hash);
    }
    void elementBytes(QByteArrayView bytes)
    {
        m_hash.add(bytes);
        if (m_action == Action::keep)
            m_out.elementBytes(bytes);
        else if (m_action == Action::rewrite)
            m_text.append(bytes);
    }
    void endElement()
    {
        if (m_hash.result() != element().hash)
            throw PlanStop::storedChanged;
        if (m_action == Action::rewrite)
            rewrite();
        if (m_action != Action::drop) {
            ++m_nextPiece;
            putNewPieces();
        }
        m_inElement = false;
        ++m_next;
    }
    void rewrite()
    {
        std::optional<QByteArray> text;
        try {
            text = m_plan.at(m_nextPiece).rewrite(m_text);
        } catch (const json::DecodeError &) {
            throw PlanStop::storedChanged; // it decoded when it was read
        }
        if (!text || *text == m_text) {
            m_out.element(m_text, element().hash);
            return;
        }
        m_rewritten = true;
        m_out.element(*text, m_list.hashOf(*text));
    }

    const RecordListFile &m_list;
    const Layout &m_stored;
    const QList<Piece> &m_plan;
    Writer &m_out;
    ContentHash m_hash;
    qsizetype m_position = 0;
    qsizetype m_next = 0;      // the stored element at or after the position
    qsizetype m_nextPiece = 0; // the plan's piece to put out next
    bool m_inElement = false;
    bool m_done = false;
    bool m_rewritten = false;
    Action m_action = Action::drop;
    QByteArray m_marks;
    QByteArray m_text; // of an element to rewrite
};

RecordListFile::RecordListFile(JsonFile &file)
    : m_file(file),
      m_hashSeed(static_cast<size_t>(QRandomGenerator::global()->generate64()))
{}

std::optional<QList<json::TextSpan>> RecordListFile::elementSpans(QByteArrayView text)
{
    QList<json::TextSpan> spans;
    qsizetype at = skipSpace(text, 0);
    if (at == text.size() || text[at] != '[')
        return std::nullopt;
    at = skipSpace(text, at + 1);
    const auto closesHere = [&text](qsizetype bracket) { return skipSpace(text, bracket + 1) == text.size(); };
    if (at < text.size() && text[at] == ']')
        return closesHere(at) ? std::optional(spans) : std::nullopt;
    while (at < text.size() && text[at] == '{') {
        const qsizetype end = objectEnd(text, at);
        if (end < 0)
            return std::nullopt;
        spans.append({at, end - at});
        at = skipSpace(text, end);
        if (at < text.size() && text[at] == ']')
            return closesHere(at) ? std::optional(spans) : std::nullopt;
        if (at == text.size() || text[at] != ',')
            return std::nullopt;
        at = skipSpace(text, at + 1);
    }
    return std::nullopt;
}

QList<json::TextSpan> RecordListFile::wholeElementSpans(QByteArrayView text, qsizetype &leftOver)
{
    QList<json::TextSpan> spans;
    leftOver = 0;
    qsizetype at = skipSpace(text, 0);
    if (at < text.size() && text[at] == '[')
        ++at;
    while (at < text.size()) {
        const char character = text[at];
        if (character != '{') {
            if (!isJsonSpace(character) && character != ',' && character != ']')
                ++leftOver;
            ++at;
            continue;
        }
        const qsizetype end = objectEnd(text, at);
        if (end < 0) {
            leftOver += text.size() - at;
            break;
        }
        spans.append({at, end - at});
        at = end;
    }
    return spans;
}

bool RecordListFile::indexLocked(QByteArrayView bytes)
{
    return indexLocked<bool>(bytes, [](QByteArrayView) { return std::optional(true); }).has_value();
}

bool RecordListFile::holdsLayoutLocked()
{
    if (!m_layout)
        return false;
    // Only a check: nothing is kept of what streams through.
    const JsonFile::WriteSink discard = [](QByteArrayView) {};
    Layout unused;
    Writer out(discard, unused);
    const QList<Piece> nothing;
    StoredCopy copy(*this, *m_layout, nothing, out);
    try {
        if (m_file.readPiecesLocked([&copy](QByteArrayView piece) { copy.consume(piece); })) {
            copy.finish();
            return true;
        }
    } catch (const PlanStop &) {
    } catch (...) {
        m_layout.reset();
        throw;
    }
    m_layout.reset();
    return false;
}

std::optional<QByteArray> RecordListFile::readElementLocked(qsizetype index)
{
    if (!m_layout || index < 0 || index >= m_layout->elements.size())
        return std::nullopt;
    const Element &element = m_layout->elements.at(index);
    std::optional<QByteArray> text = m_file.readRangeLocked(element.offset, element.length);
    // The element's own bytes, unchanged, are what it held.
    if (!text || text->size() != element.length || hashOf(*text) != element.hash)
        return std::nullopt;
    return text;
}

RecordListFile::PlanResult RecordListFile::writePlanLocked(const QList<Piece> &plan, bool onlyIfRewritten)
{
    if (!m_layout)
        return PlanResult::storedChanged;
    // Until this write succeeds, what the file holds is not known.
    const Layout stored = *std::exchange(m_layout, std::nullopt);
    // Stored elements are read once, front to back: a plan never reorders them.
    qsizetype previous = -1;
    for (const Piece &piece : plan) {
        if (piece.stored < 0)
            continue;
        if (piece.stored <= previous || piece.stored >= stored.elements.size())
            return PlanResult::storedChanged;
        previous = piece.stored;
    }
    Layout written;
    try {
        m_file.writeLocked([&](const JsonFile::WriteSink &put) {
            Writer out(put, written);
            StoredCopy copy(*this, stored, plan, out);
            // The file is read through once, never held whole.
            if (!m_file.readPiecesLocked([&copy](QByteArrayView piece) { copy.consume(piece); }))
                throw PlanStop::storedChanged;
            copy.finish();
            if (onlyIfRewritten && !copy.rewritten())
                throw PlanStop::unchanged;
            out.finish();
        });
    } catch (const PlanStop &stop) {
        if (stop == PlanStop::storedChanged)
            return PlanResult::storedChanged;
        m_layout = stored;
        return PlanResult::unchanged;
    }
    m_layout = std::move(written);
    return PlanResult::written;
}

void RecordListFile::writeWholeLocked(const std::function<void(const ElementSink &)> &produce)
{
    m_layout.reset();
    Layout written;
    m_file.writeLocked([&](const JsonFile::WriteSink &put) {
        Writer out(put, written);
        produce([&](QByteArrayView text) { out.element(text, hashOf(text)); });
        out.finish();
    });
    m_layout = std::move(written);
}
