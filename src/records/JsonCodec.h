#pragma once

#include "records/Json.h"

#include <QList>

// How a stored value type maps to JSON. A record provides
//   static T fromJson(const json::Value &);        throws json::DecodeError
//   json::Value toJson(json::Allocator &) const;
// and lists of records come for free.
template <typename T>
struct JsonCodec {
    static T decode(const json::Value &value) { return T::fromJson(value); }
    static json::Value encode(const T &value, json::Allocator &allocator) { return value.toJson(allocator); }
};

template <typename T>
struct JsonCodec<QList<T>> {
    static QList<T> decode(const json::Value &value)
    {
        return json::readList(value, QStringLiteral("the list"),
                              [](const json::Value &element) { return JsonCodec<T>::decode(element); });
    }
    static json::Value encode(const QList<T> &values, json::Allocator &allocator)
    {
        return json::makeList(values, allocator,
                              [](const T &element, json::Allocator &a) { return JsonCodec<T>::encode(element, a); });
    }
};

// Encodes a value as the pretty-printed, key-sorted text every data file uses.
template <typename T>
QByteArray encodePrettyJson(const T &value)
{
    json::Document document;
    const json::Value encoded = JsonCodec<T>::encode(value, document.GetAllocator());
    return json::serializePretty(encoded);
}

// One element of a list as encodePrettyJson writes it, from its first
// character: what lies between the list's marks (json::prettyList).
template <typename T>
QByteArray encodePrettyJsonElement(const T &value)
{
    json::Document document;
    return json::serializePrettyElement(JsonCodec<T>::encode(value, document.GetAllocator()));
}

template <typename T>
T decodeJson(QByteArray bytes)
{
    const json::ParsedDocument parsed = json::parse(std::move(bytes));
    return JsonCodec<T>::decode(parsed.root());
}

// Hands the text encodePrettyJson makes of a list to `putSeparator` (the
// marks of json::prettyList) and `putElement` (each element's text), in
// order, so that a long list can be written as it is encoded, never held whole.
template <typename T, typename PutSeparator, typename PutElement>
void encodePrettyJsonPieces(const QList<T> &values, PutSeparator &&putSeparator, PutElement &&putElement)
{
    for (qsizetype index = 0; index < values.size(); ++index) {
        putSeparator(json::prettyList::before(index));
        putElement(QByteArrayView(encodePrettyJsonElement(values.at(index))));
    }
    putSeparator(json::prettyList::after(values.size()));
}
