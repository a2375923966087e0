#include "records/JsonCodec.h"

#include <rapidjson/prettywriter.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

// rapidjson's own pretty writer over a plain stream: the layout every data
// file has had so far. (Its vectorised path for StringBuffer is not used here.)
struct StdStringOutput {
    using Ch = char;
    std::string text;
    void Put(char c) { text.push_back(c); }
    void Flush() {}
};

QByteArray referencePretty(const json::Value &value)
{
    StdStringOutput output;
    rapidjson::PrettyWriter<StdStringOutput> writer(output);
    writer.SetIndent(' ', 2);
    value.Accept(writer);
    return QByteArray::fromStdString(output.text);
}

// Keys already in sorted order, so the reference need not sort.
json::Value sample(json::Allocator &allocator)
{
    std::string controls;
    for (char c = 1; c < 0x20; ++c)
        controls += c;
    const QString text = QString::fromStdString("long run before the quote \" and \\ then " + controls
                                                + " DEL \x7f naïve → 完成 ✓ and after the last escape");
    json::Value list(rapidjson::kArrayType);
    list.PushBack(json::Value(rapidjson::kObjectType), allocator)
        .PushBack(json::Value(rapidjson::kArrayType), allocator)
        .PushBack(json::Value(std::numeric_limits<int64_t>::min()), allocator)
        .PushBack(json::Value(std::numeric_limits<uint64_t>::max()), allocator)
        .PushBack(json::Value(-7), allocator)
        .PushBack(json::Value(0.1), allocator)
        .PushBack(json::Value(-0.0), allocator)
        .PushBack(json::Value(1e300), allocator)
        .PushBack(json::Value(5e-324), allocator)
        .PushBack(json::Value(rapidjson::kNullType), allocator)
        .PushBack(json::Value(true), allocator)
        .PushBack(json::Value(false), allocator);
    json::Value nested(rapidjson::kArrayType);
    nested.PushBack(json::ObjectWriter(allocator).set("a", QStringLiteral("x")).take(), allocator);
    list.PushBack(nested, allocator);
    return json::ObjectWriter(allocator)
        .set("\x01key \"quoted\"", QString())
        .set("list", std::move(list))
        .set("lone surrogate", QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00))
        .set("text", text)
        .take();
}

} // namespace

TEST(Json, PrettyTextKeepsTheLayoutOfTheEarlierWriterAtEveryDepth)
{
    json::Document document;
    json::Allocator &allocator = document.GetAllocator();
    const json::Value value = sample(allocator);
    const QByteArray whole = json::serializePretty(value);
    EXPECT_EQ(whole, referencePretty(value));
    EXPECT_TRUE(whole.contains("\"\\u0001key \\\"quoted\\\"\": \"\""));
    EXPECT_TRUE(whole.contains("\"?x?\"")); // what toUtf8 has always made of lone surrogates

    // A list written element by element between the marks of prettyList is
    // the whole list's text, for any length; each element's text is its
    // slice at depth one.
    json::Value array(rapidjson::kArrayType);
    QByteArray list;
    for (int count = 0; count <= 3; ++count) {
        EXPECT_EQ(list + json::prettyList::after(count).toByteArray(), referencePretty(array)) << count << " elements";
        json::Value element(value, allocator);
        const QByteArray text = json::serializePrettyElement(element);
        EXPECT_EQ("  " + text, json::serializePretty(value, 1));
        list += json::prettyList::before(count).toByteArray() + text;
        array.PushBack(element, allocator);
    }
}
