#include "profiles/EnvironmentProfile.h"
#include "profiles/EnvironmentProfileValidationError.h"
#include "records/JsonCodec.h"

#include <gtest/gtest.h>

namespace {

EnvironmentVariable variable(const QString &key, const QString &value = QString(), bool isSecret = false)
{
    return {QUuid::createUuid(), key, value, isSecret};
}

EnvironmentProfile profileWith(const QList<EnvironmentVariable> &variables)
{
    EnvironmentProfile profile;
    profile.id = QUuid::createUuid();
    profile.name = QStringLiteral("dev");
    profile.variables = variables;
    return profile;
}

TEST(EnvironmentVariable, KeyRule)
{
    const struct {
        const char16_t *key;
        bool valid;
    } cases[] = {
        {u"PATH", true},
        {u"  PATH  ", true},
        {u"\tPATH\n", true},
        {u"\u00A0\u3000PATH\u0085\u000B\u000C\r", true}, // Unicode spaces, NEL, VT, FF, CR around it
        {u"_1", true},
        {u"a", true},
        {u"_", true},
        {u"MY_VAR_2", true},
        {u"", false},
        {u"   ", false},
        {u"\n\t", false},
        {u"MY VAR", false},
        {u"1ABC", false},
        {u"A-B", false},
        {u"A.B", false},
        {u"Ä", false},
        {u"PATHÄ", false},
        {u"PATH\u00A0X", false},
        {u"PATH=1", false},
    };
    for (const auto &c : cases) {
        const QString key = QString::fromUtf16(c.key);
        EXPECT_EQ(EnvironmentVariable::isValidKey(key), c.valid) << qPrintable(key);
    }
    EXPECT_FALSE(EnvironmentVariable::isValidKey(QString::fromUtf16(u"VAR\0X", 5)));
}

TEST(EnvironmentVariable, JsonRequiresAllFourKeys)
{
    const QByteArray complete =
        R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","key":"K","value":"","isSecret":false})";
    const auto decoded = decodeJson<EnvironmentVariable>(complete);
    EXPECT_EQ(decoded.key, QStringLiteral("K"));
    EXPECT_TRUE(decoded.value.isEmpty());
    EXPECT_FALSE(decoded.isSecret);

    for (const char *broken :
         {R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","key":"K","value":""})",
          R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","key":"K","isSecret":true})",
          R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","value":"","isSecret":true})",
          R"({"key":"K","value":"","isSecret":true})",
          R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","key":"K","value":"","isSecret":"no"})"}) {
        EXPECT_THROW(decodeJson<EnvironmentVariable>(QByteArray(broken)), json::DecodeError) << broken;
    }
}

TEST(EnvironmentProfile, DecodingFillsMissingFieldsLeniently)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const auto profile = decodeJson<EnvironmentProfile>(
        R"({"id":"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0","name":"prod","variables":null,"extra":1})");
    const QDateTime after = QDateTime::currentDateTimeUtc();

    EXPECT_EQ(profile.id, QUuid(QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")));
    EXPECT_EQ(profile.name, QStringLiteral("prod"));
    EXPECT_TRUE(profile.variables.isEmpty());
    EXPECT_FALSE(profile.isProtected);
    for (const QDateTime &date : {profile.createdAt, profile.updatedAt}) {
        EXPECT_GE(date, before);
        EXPECT_LE(date, after);
    }
}

TEST(EnvironmentProfile, DecodingFailsWithoutIdOrNameOrOnAWrongType)
{
    for (
        const char *broken :
        {R"({"name":"prod"})", R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"})",
         R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":null})",
         R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":"p","isProtected":"yes"})",
         R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":"p","variables":{}})",
         R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":"p","createdAt":5})",
         R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":"p","variables":[{"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","key":"K","value":""}]})"}) {
        EXPECT_THROW(decodeJson<EnvironmentProfile>(QByteArray(broken)), json::DecodeError) << broken;
    }
}

TEST(EnvironmentProfile, JsonRoundTripKeepsEveryField)
{
    EnvironmentProfile profile = profileWith({variable(QStringLiteral(" KEY "), QStringLiteral("välue \"q\" \\ \n")),
                                              variable(QStringLiteral("S"), QString(), true)});
    profile.isProtected = true;
    profile.createdAt = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    profile.updatedAt = QDateTime::fromSecsSinceEpoch(1700000100, Qt::UTC);

    const QByteArray text = encodePrettyJson(profile);
    EXPECT_EQ(decodeJson<EnvironmentProfile>(text), profile);
    EXPECT_TRUE(text.contains("\"createdAt\" : \"2023-11-14T22:13:20Z\"")
                || text.contains("\"createdAt\": \"2023-11-14T22:13:20Z\""))
        << text.constData();
}

TEST(EnvironmentProfile, ValidationReportsTheFirstInvalidKeyUntrimmed)
{
    const EnvironmentProfile profile = profileWith(
        {variable(QStringLiteral("GOOD")), variable(QStringLiteral(" 2BAD")), variable(QStringLiteral("ALSO-BAD"))});
    try {
        EnvironmentProfile::validateKeys({profile});
        FAIL() << "expected an invalid key";
    } catch (const EnvironmentProfileValidationError &error) {
        EXPECT_EQ(error.errorCase(), EnvironmentProfileValidationError::Case::invalidVariableKey);
        EXPECT_EQ(error.key(), QStringLiteral(" 2BAD"));
        EXPECT_EQ(error.message(),
                  QStringLiteral("Invalid environment variable key “ 2BAD”. Keys must start with a letter or "
                                 "underscore and contain only letters, numbers, and underscores."));
    }
}

TEST(EnvironmentProfile, ValidationLetsBlankKeysThrough)
{
    EXPECT_NO_THROW(EnvironmentProfile::validateKeys({profileWith({variable(QString())})}));
    EXPECT_NO_THROW(EnvironmentProfile::validateKeys({profileWith({variable(QStringLiteral(" \n\t"))})}));
    EXPECT_NO_THROW(EnvironmentProfile::validateKeys({profileWith({variable(QStringLiteral(" PATH "))})}));
    EXPECT_THROW(EnvironmentProfile::validateKeys({profileWith({}), profileWith({variable(QStringLiteral("Ä"))})}),
                 EnvironmentProfileValidationError);
}

} // namespace
