#include "records/Json.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

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
    case rapidjson::kNullType: return QStringLiteral("null");
    case rapidjson::kFalseType:
    case rapidjson::kTrueType: return QStringLiteral("a boolean");
    case rapidjson::kObjectType: return QStringLiteral("an object");
    case rapidjson::kArrayType: return QStringLiteral("an array");
    case rapidjson::kStringType: return QStringLiteral("text");
    case rapidjson::kNumberType: return QStringLiteral("a number");
    }
    return QStringLiteral("a value");
}

[[noreturn]] void typeMismatch(const Value &value, const QString &where, const char *expected)
{
    throw DecodeError(QStringLiteral("Expected %1 for %2 but found %3.")
                          .arg(QString::fromLatin1(expected), where, describe(value)));
}

[[noreturn]] void invalidValue(const QString &where, const QString &detail)
{
    throw DecodeError(QStringLiteral("Invalid value for %1: %2.").arg(where, detail));
}

} // namespace

DecodeError::DecodeError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

ParsedDocument parse(QByteArray bytes)
{
    ParsedDocument parsed;
    parsed.buffer = std::move(bytes);
    // One vectorised UTF-8 check of the whole text is far cheaper than the
    // parser's per-character validation.
    if (!QByteArrayView(parsed.buffer).isValidUtf8())
        throw DecodeError(QStringLiteral("The data isn’t valid UTF-8 text."));
    parsed.buffer.detach();
    // In-situ parsing keeps strings inside the buffer instead of copying them.
    constexpr unsigned flags = rapidjson::kParseInsituFlag | rapidjson::kParseFullPrecisionFlag;
    parsed.document.ParseInsitu<flags>(parsed.buffer.data());
    if (parsed.document.HasParseError()) {
        throw DecodeError(QStringLiteral("The data isn’t valid JSON (%1 at offset %2).")
                              .arg(QString::fromUtf8(rapidjson::GetParseError_En(parsed.document.GetParseError())))
                              .arg(parsed.document.GetErrorOffset()));
    }
    return parsed;
}

// rapidjson's own string buffer gets its vectorised string writer; one copy
// into a QByteArray afterwards is cheaper than a per-character stream.
QByteArray serializePretty(const Value &value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    writeSorted(value, writer);
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

QByteArray serializeCompact(const Value &value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writeSorted(value, writer);
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
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
    static const QRegularExpression pattern(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
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
        invalidValue(where, QStringLiteral("“%1” is not an ISO 8601 date with whole seconds").arg(text));
    return *date;
}

QUuid readUuid(const Value &value, const QString &where)
{
    const QString text = readString(value, where);
    std::optional<QUuid> uuid = parseUuid(text);
    if (!uuid)
        invalidValue(where, QStringLiteral("“%1” is not a UUID").arg(text));
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
    : m_object(value), m_typeName(typeName)
{
    if (!value.IsObject())
        typeMismatch(value, QString::fromLatin1(typeName), "an object");
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

QString ObjectReader::string(const char *key) const { return readString(require(key), where(key)); }
bool ObjectReader::boolean(const char *key) const { return readBool(require(key), where(key)); }
qint32 ObjectReader::int32(const char *key) const { return readInt32(require(key), where(key)); }
qint64 ObjectReader::int64(const char *key) const { return readInt64(require(key), where(key)); }
quint64 ObjectReader::uint64(const char *key) const { return readUInt64(require(key), where(key)); }
double ObjectReader::number(const char *key) const { return readDouble(require(key), where(key)); }
QDateTime ObjectReader::date(const char *key) const { return readDate(require(key), where(key)); }
QUuid ObjectReader::uuid(const char *key) const { return readUuid(require(key), where(key)); }
QByteArray ObjectReader::data(const char *key) const { return readData(require(key), where(key)); }

namespace {
template <typename T, typename Read>
std::optional<T> optionalMember(const ObjectReader &reader, const char *key, Read read)
{
    if (const Value *value = reader.find(key))
        return read(*value, reader.where(key));
    return std::nullopt;
}
} // namespace

std::optional<QString> ObjectReader::optionalString(const char *key) const { return optionalMember<QString>(*this, key, readString); }
std::optional<bool> ObjectReader::optionalBoolean(const char *key) const { return optionalMember<bool>(*this, key, readBool); }
std::optional<qint32> ObjectReader::optionalInt32(const char *key) const { return optionalMember<qint32>(*this, key, readInt32); }
std::optional<qint64> ObjectReader::optionalInt64(const char *key) const { return optionalMember<qint64>(*this, key, readInt64); }
std::optional<quint64> ObjectReader::optionalUInt64(const char *key) const { return optionalMember<quint64>(*this, key, readUInt64); }
std::optional<double> ObjectReader::optionalNumber(const char *key) const { return optionalMember<double>(*this, key, readDouble); }
std::optional<QDateTime> ObjectReader::optionalDate(const char *key) const { return optionalMember<QDateTime>(*this, key, readDate); }
std::optional<QUuid> ObjectReader::optionalUuid(const char *key) const { return optionalMember<QUuid>(*this, key, readUuid); }
std::optional<QByteArray> ObjectReader::optionalData(const char *key) const { return optionalMember<QByteArray>(*this, key, readData); }

ObjectWriter::ObjectWriter(Allocator &allocator)
    : m_allocator(allocator), m_object(rapidjson::kObjectType)
{
}

ObjectWriter &ObjectWriter::set(const char *key, Value &&value)
{
    // Keys are string literals of the record types, so they are not copied.
    m_object.AddMember(rapidjson::StringRef(key), value, m_allocator);
    return *this;
}

ObjectWriter &ObjectWriter::set(const char *key, const QString &text) { return set(key, makeString(text, m_allocator)); }
ObjectWriter &ObjectWriter::set(const char *key, bool flag) { return set(key, Value(flag)); }
ObjectWriter &ObjectWriter::set(const char *key, qint32 number) { return set(key, Value(number)); }
ObjectWriter &ObjectWriter::set(const char *key, qint64 number) { return set(key, Value(static_cast<int64_t>(number))); }
ObjectWriter &ObjectWriter::set(const char *key, quint64 number) { return set(key, Value(static_cast<uint64_t>(number))); }
ObjectWriter &ObjectWriter::set(const char *key, double number) { return set(key, makeDouble(number)); }
ObjectWriter &ObjectWriter::set(const char *key, const QDateTime &date) { return set(key, formatDate(date)); }
ObjectWriter &ObjectWriter::set(const char *key, const QUuid &uuid) { return set(key, formatUuid(uuid)); }
ObjectWriter &ObjectWriter::set(const char *key, const QByteArray &data) { return set(key, QString::fromLatin1(data.toBase64())); }

Value makeString(const QString &text, Allocator &allocator)
{
    const QByteArray utf8 = text.toUtf8();
    return Value(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()), allocator);
}

Value makeDouble(double number)
{
    return Value(std::isfinite(number) ? number : 0.0);
}

} // namespace json
