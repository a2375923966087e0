#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <stdexcept>

#include <rapidjson/document.h>

// The one JSON layer every stored file goes through. Readers are strict:
// a required key that is missing or has the wrong type fails the decode,
// integers are range-checked, optional keys may be missing or null.
// Writers never emit null for an absent optional and never emit NaN or
// infinity. Objects are written with their keys in sorted order.
namespace json {

using Value = rapidjson::Value;
using Document = rapidjson::Document;
using Allocator = rapidjson::Document::AllocatorType;

class DecodeError : public std::runtime_error {
public:
    explicit DecodeError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A parsed document together with the bytes its strings point into.
struct ParsedDocument {
    QByteArray buffer;
    Document document;
    const Value &root() const { return document; }
};

// At most a short prefix of a stored text, for messages and log lines.
QString excerpt(const QString &text);

// Parses UTF-8 JSON text; invalid JSON or invalid UTF-8 throws DecodeError, and
// so does nesting deeper than 64 levels, a number longer than 64 characters or
// beyond the range of a double, and a NUL character.
ParsedDocument parse(QByteArray bytes);
// The same for text the caller has already found to be valid UTF-8.
ParsedDocument parseUtf8(QByteArray bytes);

// Two-space indented, keys sorted at every level, ending without a newline.
// At a `level` above 0, the lines the value takes at that depth inside a
// larger text, the first one indented as well.
QByteArray serializePretty(const Value &value, int level = 0);

// The punctuation of every stored list, as serializePretty lays out an
// array: the mark before each element carries that element's indentation,
// so an element's own text starts at its first character. Every writer of a
// list, and the check of a stored one, takes its marks from here.
namespace prettyList {
inline constexpr QByteArrayView empty = "[]";
inline constexpr QByteArrayView opening = "[\n  ";
inline constexpr QByteArrayView separator = ",\n  ";
inline constexpr QByteArrayView closing = "\n]";
// The mark before element `index`.
constexpr QByteArrayView before(qsizetype index)
{
    return index == 0 ? opening : separator;
}
// The mark after the last of `count` elements: the whole list when there is none.
constexpr QByteArrayView after(qsizetype count)
{
    return count == 0 ? empty : closing;
}
} // namespace prettyList

// One element of a list as serializePretty lays it out inside the whole
// array's text, from its first character (the indentation before it is the
// list's punctuation).
QByteArray serializePrettyElement(const Value &value);

// Where a piece of text lies inside a larger one.
struct TextSpan {
    qsizetype offset = 0;
    qsizetype length = 0;
    friend bool operator==(const TextSpan &, const TextSpan &) = default;
};

// No white space, keys sorted at every level.
QByteArray serializeCompact(const Value &value);

// Text forms shared by every record.
QString formatDate(const QDateTime &date); // yyyy-MM-ddTHH:mm:ssZ, UTC, whole seconds
std::optional<QDateTime> parseDate(const QString &text);
QString formatUuid(const QUuid &uuid); // upper case, no braces
std::optional<QUuid> parseUuid(const QString &text);
QDateTime truncatedToSeconds(const QDateTime &date);

// Element readers: `where` names the value in error messages.
QString readString(const Value &value, const QString &where);
bool readBool(const Value &value, const QString &where);
qint32 readInt32(const Value &value, const QString &where);
qint64 readInt64(const Value &value, const QString &where);
quint64 readUInt64(const Value &value, const QString &where);
double readDouble(const Value &value, const QString &where);
QDateTime readDate(const Value &value, const QString &where);
QUuid readUuid(const Value &value, const QString &where);
QByteArray readData(const Value &value, const QString &where);
const Value &requireArray(const Value &value, const QString &where);

template <typename ReadElement>
auto readList(const Value &value, const QString &where, ReadElement &&readElement)
{
    using Element = std::decay_t<decltype(readElement(value))>;
    const Value &array = requireArray(value, where);
    QList<Element> result;
    result.reserve(static_cast<qsizetype>(array.Size()));
    for (const Value &element : array.GetArray())
        result.append(readElement(element));
    return result;
}

class ObjectReader {
public:
    // Throws DecodeError unless `value` is an object. `typeName` names it in messages.
    ObjectReader(const Value &value, const char *typeName);

    // The member's value, or nullptr when the key is missing or null.
    const Value *find(const char *key) const;
    const Value &require(const char *key) const;
    bool has(const char *key) const { return find(key) != nullptr; }

    QString string(const char *key) const;
    bool boolean(const char *key) const;
    qint32 int32(const char *key) const;
    qint64 int64(const char *key) const;
    quint64 uint64(const char *key) const;
    double number(const char *key) const;
    QDateTime date(const char *key) const;
    QUuid uuid(const char *key) const;
    QByteArray data(const char *key) const;

    std::optional<QString> optionalString(const char *key) const;
    std::optional<bool> optionalBoolean(const char *key) const;
    std::optional<qint32> optionalInt32(const char *key) const;
    std::optional<qint64> optionalInt64(const char *key) const;
    std::optional<quint64> optionalUInt64(const char *key) const;
    std::optional<double> optionalNumber(const char *key) const;
    std::optional<QDateTime> optionalDate(const char *key) const;
    std::optional<QUuid> optionalUuid(const char *key) const;
    std::optional<QByteArray> optionalData(const char *key) const;

    template <typename ReadElement>
    auto list(const char *key, ReadElement &&readElement) const
    {
        return readList(require(key), where(key), std::forward<ReadElement>(readElement));
    }
    template <typename ReadElement>
    auto optionalList(const char *key, ReadElement &&readElement) const
        -> std::optional<decltype(readList(std::declval<const Value &>(), QString(), readElement))>
    {
        if (const Value *member = find(key))
            return readList(*member, where(key), std::forward<ReadElement>(readElement));
        return std::nullopt;
    }

    QString where(const char *key) const;

private:
    const Value &m_object;
    const char *m_typeName;
};

class ObjectWriter {
public:
    explicit ObjectWriter(Allocator &allocator);

    ObjectWriter &set(const char *key, const QString &text);
    ObjectWriter &set(const char *key, bool flag);
    ObjectWriter &set(const char *key, qint32 number);
    ObjectWriter &set(const char *key, qint64 number);
    ObjectWriter &set(const char *key, quint64 number);
    ObjectWriter &set(const char *key, double number); // non-finite numbers are written as 0
    ObjectWriter &set(const char *key, const QDateTime &date);
    ObjectWriter &set(const char *key, const QUuid &uuid);
    ObjectWriter &set(const char *key, const QByteArray &data); // Base64
    ObjectWriter &set(const char *key, Value &&value);
    // Only the exact types above: anything else (a C string, a long) is a mistake.
    template <typename T>
    ObjectWriter &set(const char *key, T value) = delete;

    template <typename T>
    ObjectWriter &setOptional(const char *key, const std::optional<T> &value)
    {
        if (value)
            set(key, *value);
        return *this;
    }

    Allocator &allocator() { return m_allocator; }
    Value take() { return std::move(m_object); }

private:
    Allocator &m_allocator;
    Value m_object;
};

// Element writers for lists and nested values.
Value makeString(const QString &text, Allocator &allocator);
Value makeDouble(double number);

template <typename T, typename WriteElement>
Value makeList(const QList<T> &elements, Allocator &allocator, WriteElement &&writeElement)
{
    Value array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(elements.size()), allocator);
    for (const T &element : elements)
        array.PushBack(writeElement(element, allocator), allocator);
    return array;
}

} // namespace json
