#include "records/Json.h"

#include "platform/SensitiveBytes.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/internal/dtoa.h>
#include <rapidjson/internal/itoa.h>
#include <rapidjson/writer.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The writer's output, grown in place inside the QByteArray that is returned, so
// a large document is never copied once more. Deliberately not rapidjson's
// StringBuffer: with RAPIDJSON_SSE2, rapidjson 1.1's vectorised string writer
// for StringBuffer leaves U+001A to U+001F unescaped (ESC of terminal colour
// codes among them), and the file it writes no longer parses.
class ByteArrayOutput {
public:
    using Ch = char;

    void Put(char c)
    {
        if (m_size == m_capacity)
            grow(1);
        m_data[m_size++] = c;
    }
    void append(const char *bytes, qsizetype count)
    {
        if (m_capacity - m_size < count)
            grow(count);
        std::memcpy(m_data + m_size, bytes, static_cast<size_t>(count));
        m_size += count;
    }
    void Flush() {}
    qsizetype size() const { return m_size; }

    // Room for `count` more bytes, written through the pointer returned and
    // then committed with the end of what was written.
    char *reserve(qsizetype count)
    {
        if (m_capacity - m_size < count)
            grow(count);
        return m_data + m_size;
    }
    void commit(const char *end) { m_size = end - m_data; }

    QByteArray take()
    {
        m_bytes.truncate(m_size);
        return std::move(m_bytes);
    }

private:
    void grow(qsizetype needed)
    {
        m_capacity = std::max({qsizetype(4096), m_capacity + m_capacity / 2, m_size + needed});
        m_bytes.resize(m_capacity);
        m_data = m_bytes.data();
    }

    QByteArray m_bytes;
    char *m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
};

bool needsEscape(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == '"' || byte == '\\';
}

#ifdef __SSE2__
// Which of sixteen bytes a JSON string must escape, one bit each: quote,
// backslash, or below 0x20 (max(byte, 0x1F) == 0x1F).
int escapeMask(__m128i bytes)
{
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                                      _mm_cmpeq_epi8(_mm_max_epu8(bytes, control), control));
    return _mm_movemask_epi8(hits);
}
#endif

// The first byte from `p` on that a JSON string must escape, or `end`.
const char *nextEscape(const char *p, const char *end)
{
#ifdef __SSE2__
    while (end - p >= 16) {
        const int mask = escapeMask(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p != end && !needsEscape(*p))
        ++p;
    return p;
}

// Copies bytes from `p` to `out` up to the first that a JSON string must escape,
// or `end`. Whole blocks are stored before they are checked, so `out` needs
// sixteen bytes of room beyond what is copied.
void copyUntilEscape(const char *&p, const char *end, char *&out)
{
#ifdef __SSE2__
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), bytes);
        const int mask = escapeMask(bytes);
        if (mask != 0) {
            const int clean = __builtin_ctz(static_cast<unsigned>(mask));
            p += clean;
            out += clean;
            return;
        }
        p += 16;
        out += 16;
    }
#endif
    while (p != end && !needsEscape(*p))
        *out++ = *p++;
}

// Writes the escape of one byte as rapidjson's writer does; returns the new end.
char *writeEscape(char *out, unsigned char byte)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    *out++ = '\\';
    switch (byte) {
    case '\b':
        *out++ = 'b';
        break;
    case '\t':
        *out++ = 't';
        break;
    case '\n':
        *out++ = 'n';
        break;
    case '\f':
        *out++ = 'f';
        break;
    case '\r':
        *out++ = 'r';
        break;
    case '"':
    case '\\':
        *out++ = static_cast<char>(byte);
        break;
    default:
        *out++ = 'u';
        *out++ = '0';
        *out++ = '0';
        *out++ = hexDigits[byte >> 4];
        *out++ = hexDigits[byte & 0xF];
        break;
    }
    return out;
}

// Writes values the way rapidjson's PrettyWriter does with a two-space indent
// (the layout every data file has always had), keys sorted, starting at any
// depth: an element of a list comes out already indented, never re-indented
// in a copy. Runs of text that need no escape are copied in one go.
class PrettyOutput {
public:
    explicit PrettyOutput(ByteArrayOutput &output)
        : m_output(output)
    {}

    void indent(int level)
    {
        static constexpr char spaces[] = "                                                                ";
        for (qsizetype count = 2 * qsizetype(level); count > 0;) {
            const qsizetype chunk = std::min<qsizetype>(count, sizeof(spaces) - 1);
            m_output.append(spaces, chunk);
            count -= chunk;
        }
    }

    void write(const json::Value &value, int level)
    {
        switch (value.GetType()) {
        case rapidjson::kObjectType:
            writeObject(value, level);
            break;
        case rapidjson::kArrayType:
            writeArray(value, level);
            break;
        case rapidjson::kStringType:
            writeString(value.GetString(), value.GetStringLength());
            break;
        case rapidjson::kNumberType:
            writeNumber(value);
            break;
        case rapidjson::kNullType:
            m_output.append("null", 4);
            break;
        case rapidjson::kFalseType:
            m_output.append("false", 5);
            break;
        case rapidjson::kTrueType:
            m_output.append("true", 4);
            break;
        }
    }

private:
    static bool nameLess(const json::Value::Member *a, const json::Value::Member *b)
    {
        const auto lengthA = a->name.GetStringLength();
        const auto lengthB = b->name.GetStringLength();
        const int order = std::memcmp(a->name.GetString(), b->name.GetString(), std::min(lengthA, lengthB));
        return order != 0 ? order < 0 : lengthA < lengthB;
    }

    void separate(bool first)
    {
        if (!first)
            m_output.Put(',');
        m_output.Put('\n');
    }

    void writeObject(const json::Value &object, int level)
    {
        if (object.MemberCount() == 0) {
            m_output.append("{}", 2);
            return;
        }
        std::vector<const json::Value::Member *> members;
        members.reserve(object.MemberCount());
        for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it)
            members.push_back(&*it);
        std::sort(members.begin(), members.end(), nameLess);
        m_output.Put('{');
        for (size_t index = 0; index < members.size(); ++index) {
            separate(index == 0);
            indent(level + 1);
            writeString(members[index]->name.GetString(), members[index]->name.GetStringLength());
            m_output.append(": ", 2);
            write(members[index]->value, level + 1);
        }
        m_output.Put('\n');
        indent(level);
        m_output.Put('}');
    }

    void writeArray(const json::Value &array, int level)
    {
        if (array.Empty()) {
            m_output.append("[]", 2);
            return;
        }
        m_output.Put('[');
        bool first = true;
        for (const json::Value &element : array.GetArray()) {
            separate(first);
            first = false;
            indent(level + 1);
            write(element, level + 1);
        }
        m_output.Put('\n');
        indent(level);
        m_output.Put(']');
    }

    void writeString(const char *text, rapidjson::SizeType length)
    {
        // Six bytes at most for each one (\u001F), the quotes, and the slack of a whole-block store.
        char *out = m_output.reserve(6 * qsizetype(length) + 2 + 16);
        *out++ = '"';
        const char *end = text + length;
        for (const char *p = text;;) {
            copyUntilEscape(p, end, out);
            if (p == end)
                break;
            out = writeEscape(out, static_cast<unsigned char>(*p++));
        }
        *out++ = '"';
        m_output.commit(out);
    }

    void writeNumber(const json::Value &number)
    {
        char buffer[32];
        char *end = buffer;
        if (number.IsDouble()) {
            // A stored double is always finite; a stray one is written as 0, never as invalid JSON.
            const double value = number.GetDouble();
            end = rapidjson::internal::dtoa(std::isfinite(value) ? value : 0.0, buffer);
        } else if (number.IsInt64()) {
            end = rapidjson::internal::i64toa(number.GetInt64(), buffer);
        } else {
            end = rapidjson::internal::u64toa(number.GetUint64(), buffer);
        }
        m_output.append(buffer, end - buffer);
    }

    ByteArrayOutput &m_output;
};

} // namespace

// rapidjson's own writer (for the compact form) copies character by character
// unless told how to find the next escape.
template <>
inline bool rapidjson::Writer<ByteArrayOutput>::ScanWriteUnescapedString(StringStream &is, size_t length)
{
    const char *end = is.head_ + length;
    const char *p = nextEscape(is.src_, end);
    os_->append(is.src_, p - is.src_);
    is.src_ = p;
    return p != end;
}

namespace json {

namespace {

bool nameLess(const Value::Member *a, const Value::Member *b)
{
    const auto lengthA = a->name.GetStringLength();
    const auto lengthB = b->name.GetStringLength();
    const int order = std::memcmp(a->name.GetString(), b->name.GetString(), std::min(lengthA, lengthB));
    return order != 0 ? order < 0 : lengthA < lengthB;
}

template <typename Writer>
void writeSorted(const Value &value, Writer &writer)
{
    if (value.IsObject()) {
        std::vector<const Value::Member *> members;
        members.reserve(value.MemberCount());
        for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it)
            members.push_back(&*it);
        std::sort(members.begin(), members.end(), nameLess);
        writer.StartObject();
        for (const Value::Member *member : members) {
            writer.Key(member->name.GetString(), member->name.GetStringLength());
            writeSorted(member->value, writer);
        }
        writer.EndObject();
    } else if (value.IsArray()) {
        writer.StartArray();
        for (const Value &element : value.GetArray())
            writeSorted(element, writer);
        writer.EndArray();
    } else {
        value.Accept(writer);
    }
}

QString describe(const Value &value)
{
    switch (value.GetType()) {
    case rapidjson::kNullType:
        return QStringLiteral("null");
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return QStringLiteral("a boolean");
    case rapidjson::kObjectType:
        return QStringLiteral("an object");
    case rapidjson::kArrayType:
        return QStringLiteral("an array");
    case rapidjson::kStringType:
        return QStringLiteral("text");
    case rapidjson::kNumberType:
        return QStringLiteral("a number");
    }
    return QStringLiteral("a value");
}

// Records have a handful of keys, so comparing every pair beats sorting.
const Value *firstDuplicateKey(const Value &object)
{
    const auto begin = object.MemberBegin();
    const auto end = object.MemberEnd();
    if (end - begin > 32) {
        std::vector<const Value::Member *> members;
        members.reserve(static_cast<size_t>(end - begin));
        for (auto it = begin; it != end; ++it)
            members.push_back(&*it);
        std::sort(members.begin(), members.end(), nameLess);
        for (size_t index = 1; index < members.size(); ++index) {
            if (!nameLess(members[index - 1], members[index]))
                return &members[index]->name;
        }
        return nullptr;
    }
    for (auto it = begin; it != end; ++it) {
        for (auto other = begin; other != it; ++other) {
            if (other->name == it->name)
                return &it->name;
        }
    }
    return nullptr;
}

[[noreturn]] void typeMismatch(const Value &value, const QString &where, const char *expected)
{
    throw DecodeError(
        QStringLiteral("Expected %1 for %2 but found %3.").arg(QString::fromLatin1(expected), where, describe(value)));
}

[[noreturn]] void invalidValue(const QString &where, const QString &detail)
{
    throw DecodeError(QStringLiteral("Invalid value for %1: %2.").arg(where, detail));
}

} // namespace

QString excerpt(const QString &text)
{
    constexpr qsizetype maximumCharacters = 40;
    if (text.size() <= maximumCharacters)
        return text;
    // Never split a surrogate pair.
    qsizetype cut = maximumCharacters;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QStringLiteral("…");
}

DecodeError::DecodeError(const QString &message)
    : std::runtime_error(message.toStdString()),
      m_message(message)
{}

namespace {

// Far beyond anything the stores write (a run record nests five levels, a
// written number has at most 25 characters), and far below what could exhaust
// the stack of a reader that walks the values.
constexpr int maximumDepth = 64;
constexpr size_t maximumNumberLength = 64;

// Builds the document like the parser's own handler, but refuses nesting and
// numbers the stores never write, and converts numbers itself: the parser's
// conversion of very long digit runs overflows or gives wrong values.
class BoundedHandler {
public:
    explicit BoundedHandler(Document &document)
        : m_document(document)
    {}

    bool Null() { return m_document.Null(); }
    bool Bool(bool flag) { return m_document.Bool(flag); }
    bool Int(int number) { return m_document.Int(number); }
    bool Uint(unsigned number) { return m_document.Uint(number); }
    bool Int64(int64_t number) { return m_document.Int64(number); }
    bool Uint64(uint64_t number) { return m_document.Uint64(number); }
    bool Double(double number) { return m_document.Double(number); }
    bool String(const char *text, rapidjson::SizeType length, bool copy)
    {
        return m_document.String(text, length, copy);
    }
    bool Key(const char *text, rapidjson::SizeType length, bool copy) { return m_document.Key(text, length, copy); }
    bool StartObject() { return enter() && m_document.StartObject(); }
    bool EndObject(rapidjson::SizeType count)
    {
        --m_depth;
        return m_document.EndObject(count);
    }
    bool StartArray() { return enter() && m_document.StartArray(); }
    bool EndArray(rapidjson::SizeType count)
    {
        --m_depth;
        return m_document.EndArray(count);
    }

    bool RawNumber(const char *text, rapidjson::SizeType length, bool)
    {
        if (length > maximumNumberLength) {
            m_refusal = QStringLiteral("a number longer than %1 characters").arg(maximumNumberLength);
            return false;
        }
        const char *end = text + length;
        const bool integral = std::none_of(text, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; });
        if (integral) {
            if (*text == '-') {
                int64_t number = 0;
                if (std::from_chars(text, end, number).ec == std::errc())
                    return m_document.Int64(number);
            } else {
                uint64_t number = 0;
                if (std::from_chars(text, end, number).ec == std::errc())
                    return m_document.Uint64(number);
            }
        }
        double number = 0;
        const auto [next, error] = std::from_chars(text, end, number);
        if (error != std::errc() || next != end || !std::isfinite(number)) {
            m_refusal = QStringLiteral("a number out of range");
            return false;
        }
        return m_document.Double(number);
    }

    const QString &refusal() const { return m_refusal; }

private:
    bool enter()
    {
        if (++m_depth <= maximumDepth)
            return true;
        m_refusal = QStringLiteral("nesting deeper than %1 levels").arg(maximumDepth);
        return false;
    }

    Document &m_document;
    int m_depth = 0;
    QString m_refusal;
};

// The text detached and padded: rapidjson's vectorised scanning loads whole
// 16-byte blocks, up to 15 bytes past the terminating NUL, which must lie
// inside the allocation. When that takes a new block, the old one is wiped
// before it is freed: the text may be a decrypted payload.
QByteArray paddedForParser(QByteArray bytes)
{
    constexpr qsizetype padding = 16;
    const qsizetype size = bytes.size();
    if (bytes.isDetached() && bytes.data_ptr().freeSpaceAtEnd() >= padding)
        return bytes;
    QByteArray padded;
    padded.reserve(size + padding);
    padded.resize(size);
    if (size > 0)
        std::memcpy(padded.data(), bytes.constData(), size_t(size));
    SensitiveBytes::wipe(bytes);
    return padded;
}

} // namespace

ParsedDocument parse(QByteArray bytes)
{
    // One vectorised UTF-8 check of the whole text is far cheaper than the
    // parser's per-character validation.
    if (!QByteArrayView(bytes).isValidUtf8())
        throw DecodeError(QStringLiteral("The data isn’t valid UTF-8 text."));
    return parseUtf8(std::move(bytes));
}

ParsedDocument parseUtf8(QByteArray bytes)
{
    ParsedDocument parsed;
    const qsizetype size = bytes.size();
    parsed.buffer = paddedForParser(std::move(bytes));
    // In-situ parsing keeps strings inside the buffer instead of copying them.
    // The iterative parser keeps its state on the heap, so deep nesting cannot
    // overflow the stack before the handler refuses it.
    constexpr unsigned flags =
        rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::InsituStringStream stream(parsed.buffer.data());
    rapidjson::Reader reader;
    BoundedHandler handler(parsed.document);
    const auto generate = [&](Document &) { return !reader.Parse<flags>(stream, handler).IsError(); };
    parsed.document.Populate(generate);
    if (reader.HasParseError()) {
        const QString reason = reader.GetParseErrorCode() == rapidjson::kParseErrorTermination
                                   ? handler.refusal()
                                   : QString::fromUtf8(rapidjson::GetParseError_En(reader.GetParseErrorCode()));
        throw DecodeError(
            QStringLiteral("The data isn’t valid JSON (%1 at offset %2).").arg(reason).arg(reader.GetErrorOffset()));
    }
    // The parser stops at a NUL byte; what follows it must not vanish unnoticed.
    if (stream.Tell() != static_cast<size_t>(size)) {
        throw DecodeError(
            QStringLiteral("The data isn’t valid JSON (a NUL character at offset %1).").arg(stream.Tell()));
    }
    return parsed;
}

QByteArray serializePretty(const Value &value, int level)
{
    ByteArrayOutput output;
    PrettyOutput pretty(output);
    pretty.indent(level);
    pretty.write(value, level);
    return output.take();
}

QByteArray serializePrettyElement(const Value &value)
{
    ByteArrayOutput output;
    PrettyOutput(output).write(value, 1);
    return output.take();
}

QByteArray serializeCompact(const Value &value)
{
    ByteArrayOutput output;
    rapidjson::Writer<ByteArrayOutput> writer(output);
    writeSorted(value, writer);
    return output.take();
}

QDateTime truncatedToSeconds(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    return QDateTime::fromSecsSinceEpoch(utc.toSecsSinceEpoch(), QTimeZone::utc());
}

QString formatDate(const QDateTime &date)
{
    return truncatedToSeconds(date).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

std::optional<QDateTime> parseDate(const QString &text)
{
    // Internet date-time with whole seconds: a fraction of a second is refused.
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(Z|[+-]\\d{2}:\\d{2})$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

QString formatUuid(const QUuid &uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

QString readString(const Value &value, const QString &where)
{
    if (!value.IsString())
        typeMismatch(value, where, "text");
    return QString::fromUtf8(value.GetString(), static_cast<qsizetype>(value.GetStringLength()));
}

bool readBool(const Value &value, const QString &where)
{
    if (!value.IsBool())
        typeMismatch(value, where, "a boolean");
    return value.GetBool();
}

qint32 readInt32(const Value &value, const QString &where)
{
    if (!value.IsNumber())
        typeMismatch(value, where, "a whole number");
    if (!value.IsInt())
        invalidValue(where, QStringLiteral("not a 32-bit whole number"));
    return value.GetInt();
}

qint64 readInt64(const Value &value, const QString &where)
{
    if (!value.IsNumber())
        typeMismatch(value, where, "a whole number");
    if (!value.IsInt64())
        invalidValue(where, QStringLiteral("not a 64-bit whole number"));
    return value.GetInt64();
}

quint64 readUInt64(const Value &value, const QString &where)
{
    if (!value.IsNumber())
        typeMismatch(value, where, "a whole number");
    if (!value.IsUint64())
        invalidValue(where, QStringLiteral("not an unsigned 64-bit whole number"));
    return value.GetUint64();
}

double readDouble(const Value &value, const QString &where)
{
    if (!value.IsNumber())
        typeMismatch(value, where, "a number");
    return value.GetDouble();
}

QDateTime readDate(const Value &value, const QString &where)
{
    const QString text = readString(value, where);
    std::optional<QDateTime> date = parseDate(text);
    if (!date)
        invalidValue(where, QStringLiteral("“%1” is not an ISO 8601 date with whole seconds").arg(excerpt(text)));
    return *date;
}

QUuid readUuid(const Value &value, const QString &where)
{
    const QString text = readString(value, where);
    std::optional<QUuid> uuid = parseUuid(text);
    if (!uuid)
        invalidValue(where, QStringLiteral("“%1” is not a UUID").arg(excerpt(text)));
    return *uuid;
}

QByteArray readData(const Value &value, const QString &where)
{
    if (!value.IsString())
        typeMismatch(value, where, "Base64 text");
    const QByteArray text(value.GetString(), static_cast<qsizetype>(value.GetStringLength()));
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        invalidValue(where, QStringLiteral("not Base64 text"));
    return *decoded;
}

const Value &requireArray(const Value &value, const QString &where)
{
    if (!value.IsArray())
        typeMismatch(value, where, "an array");
    return value;
}

ObjectReader::ObjectReader(const Value &value, const char *typeName)
    : m_object(value),
      m_typeName(typeName)
{
    if (!value.IsObject())
        typeMismatch(value, QString::fromLatin1(typeName), "an object");
    // A lookup finds only the first of two equal keys, so a damaged copy placed
    // before the real one would hide it.
    if (const Value *name = firstDuplicateKey(value)) {
        throw DecodeError(QStringLiteral("The key “%1” appears twice in %2.")
                              .arg(excerpt(readString(*name, QString())), QString::fromLatin1(typeName)));
    }
}

QString ObjectReader::where(const char *key) const
{
    return QStringLiteral("“%1” in %2").arg(QString::fromUtf8(key), QString::fromLatin1(m_typeName));
}

const Value *ObjectReader::find(const char *key) const
{
    const auto member = m_object.FindMember(key);
    if (member == m_object.MemberEnd() || member->value.IsNull())
        return nullptr;
    return &member->value;
}

const Value &ObjectReader::require(const char *key) const
{
    if (const Value *value = find(key))
        return *value;
    throw DecodeError(QStringLiteral("Missing key %1.").arg(where(key)));
}

QString ObjectReader::string(const char *key) const
{
    return readString(require(key), where(key));
}
bool ObjectReader::boolean(const char *key) const
{
    return readBool(require(key), where(key));
}
qint32 ObjectReader::int32(const char *key) const
{
    return readInt32(require(key), where(key));
}
qint64 ObjectReader::int64(const char *key) const
{
    return readInt64(require(key), where(key));
}
quint64 ObjectReader::uint64(const char *key) const
{
    return readUInt64(require(key), where(key));
}
double ObjectReader::number(const char *key) const
{
    return readDouble(require(key), where(key));
}
QDateTime ObjectReader::date(const char *key) const
{
    return readDate(require(key), where(key));
}
QUuid ObjectReader::uuid(const char *key) const
{
    return readUuid(require(key), where(key));
}
QByteArray ObjectReader::data(const char *key) const
{
    return readData(require(key), where(key));
}

namespace {
template <typename T, typename Read>
std::optional<T> optionalMember(const ObjectReader &reader, const char *key, Read read)
{
    if (const Value *value = reader.find(key))
        return read(*value, reader.where(key));
    return std::nullopt;
}
} // namespace

std::optional<QString> ObjectReader::optionalString(const char *key) const
{
    return optionalMember<QString>(*this, key, readString);
}
std::optional<bool> ObjectReader::optionalBoolean(const char *key) const
{
    return optionalMember<bool>(*this, key, readBool);
}
std::optional<qint32> ObjectReader::optionalInt32(const char *key) const
{
    return optionalMember<qint32>(*this, key, readInt32);
}
std::optional<qint64> ObjectReader::optionalInt64(const char *key) const
{
    return optionalMember<qint64>(*this, key, readInt64);
}
std::optional<quint64> ObjectReader::optionalUInt64(const char *key) const
{
    return optionalMember<quint64>(*this, key, readUInt64);
}
std::optional<double> ObjectReader::optionalNumber(const char *key) const
{
    return optionalMember<double>(*this, key, readDouble);
}
std::optional<QDateTime> ObjectReader::optionalDate(const char *key) const
{
    return optionalMember<QDateTime>(*this, key, readDate);
}
std::optional<QUuid> ObjectReader::optionalUuid(const char *key) const
{
    return optionalMember<QUuid>(*this, key, readUuid);
}
std::optional<QByteArray> ObjectReader::optionalData(const char *key) const
{
    return optionalMember<QByteArray>(*this, key, readData);
}

ObjectWriter::ObjectWriter(Allocator &allocator)
    : m_allocator(allocator),
      m_object(rapidjson::kObjectType)
{}

ObjectWriter &ObjectWriter::set(const char *key, Value &&value)
{
    // Keys are string literals of the record types, so they are not copied.
    m_object.AddMember(rapidjson::StringRef(key), value, m_allocator);
    return *this;
}

ObjectWriter &ObjectWriter::set(const char *key, const QString &text)
{
    return set(key, makeString(text, m_allocator));
}
ObjectWriter &ObjectWriter::set(const char *key, bool flag)
{
    return set(key, Value(flag));
}
ObjectWriter &ObjectWriter::set(const char *key, qint32 number)
{
    return set(key, Value(number));
}
ObjectWriter &ObjectWriter::set(const char *key, qint64 number)
{
    return set(key, Value(static_cast<int64_t>(number)));
}
ObjectWriter &ObjectWriter::set(const char *key, quint64 number)
{
    return set(key, Value(static_cast<uint64_t>(number)));
}
ObjectWriter &ObjectWriter::set(const char *key, double number)
{
    return set(key, makeDouble(number));
}
ObjectWriter &ObjectWriter::set(const char *key, const QDateTime &date)
{
    return set(key, formatDate(date));
}
ObjectWriter &ObjectWriter::set(const char *key, const QUuid &uuid)
{
    return set(key, formatUuid(uuid));
}
ObjectWriter &ObjectWriter::set(const char *key, const QByteArray &data)
{
    return set(key, QString::fromLatin1(data.toBase64()));
}

Value makeString(const QString &text, Allocator &allocator)
{
    // Encoded straight into the document's memory rather than through a copy.
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char *buffer = static_cast<char *>(allocator.Malloc(static_cast<size_t>(encoder.requiredSpace(text.size())) + 1));
    char *end = encoder.appendToBuffer(buffer, text);
    if (encoder.hasError()) {
        // A lone surrogate: toUtf8() writes "?" for it where the encoder has U+FFFD,
        // and the stored bytes must not change.
        const QByteArray utf8 = text.toUtf8();
        return Value(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()), allocator);
    }
    *end = '\0';
    Value value;
    value.SetString(rapidjson::StringRef(buffer, static_cast<rapidjson::SizeType>(end - buffer)));
    return value;
}

Value makeDouble(double number)
{
    return Value(std::isfinite(number) ? number : 0.0);
}

} // namespace json
