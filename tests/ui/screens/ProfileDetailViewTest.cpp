#include "ui/screens/profiles/ProfileDetailView.h"
#include "ui/screens/profiles/ProfileVariableRow.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

EnvironmentVariable var(const QString &key, const QString &value, bool isSecret = false)
{
    return {QUuid::createUuid(), key, value, isSecret};
}

EnvironmentProfile profileWith(QList<EnvironmentVariable> variables, bool isProtected = false)
{
    return {QUuid::createUuid(), QStringLiteral("P"), std::move(variables), isProtected, {}, {}};
}

} // namespace

TEST(ProfileDetail, VariableTextsMaskEverySecretAndMarkEmptyOnes)
{
    struct Case {
        EnvironmentVariable variable;
        QString key;
        QString value;
    };
    const QList<Case> cases {
        {var(QStringLiteral("TOKEN"), QStringLiteral("abc"), true), QStringLiteral("TOKEN"),
         QStringLiteral("••••••••")},
        {var(QStringLiteral("TOKEN"), QString(), true), QStringLiteral("TOKEN"), QStringLiteral("••••••••")},
        {var(QStringLiteral("PATH"), QString()), QStringLiteral("PATH"), QStringLiteral("—")},
        {var(QString(), QStringLiteral("v")), QStringLiteral("—"), QStringLiteral("v")},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ProfileVariableRow::keyText(c.variable), c.key);
        EXPECT_EQ(ProfileVariableRow::valueText(c.variable), c.value);
    }
}

TEST(ProfileDetail, LockedAndUnlockedLayouts)
{
    const auto secret =
        profileWith({var(QStringLiteral("A"), QStringLiteral("1")),
                     var(QStringLiteral("B"), QStringLiteral("hidden"), true), var(QString(), QString())},
                    true);
    ProfileDetailView locked(secret, true, nullptr, nullptr);
    EXPECT_EQ(locked.findChild<QPushButton *>(QStringLiteral("editButton")), nullptr);
    EXPECT_NE(locked.findChild<QPushButton *>(QStringLiteral("unlockButton")), nullptr);
    EXPECT_EQ(locked.findChild<QLabel *>(QStringLiteral("summaryText"))->text(), QStringLiteral("Protected profile"));
    EXPECT_EQ(locked.findChild<QWidget *>(QStringLiteral("summarySymbol"))->property("symbolName"),
              QStringLiteral("lock.fill"));

    int edits = 0;
    ProfileDetailView unlocked(secret, false, nullptr, [&edits] { ++edits; });
    EXPECT_EQ(unlocked.findChild<QLabel *>(QStringLiteral("summaryText"))->text(), QStringLiteral("3 variables"));
    EXPECT_EQ(unlocked.findChild<QWidget *>(QStringLiteral("summarySymbol"))->property("symbolName"),
              QStringLiteral("lock.open.fill"));
    EXPECT_EQ(unlocked.findChild<QLabel *>(QStringLiteral("variableCount"))->text(), QStringLiteral("3"));
    EXPECT_EQ(unlocked.findChildren<QWidget *>(QStringLiteral("variableDivider")).size(), 2);
    for (const QLabel *label : unlocked.findChildren<QLabel *>())
        EXPECT_FALSE(label->text().contains(QStringLiteral("hidden")));
    unlocked.findChild<QPushButton *>(QStringLiteral("editButton"))->click();
    EXPECT_EQ(edits, 1);

    ProfileDetailView empty(profileWith({}), false, nullptr, nullptr);
    EXPECT_EQ(empty.findChild<QLabel *>(QStringLiteral("summaryText"))->text(), QStringLiteral("0 variables"));
    EXPECT_EQ(empty.findChild<QWidget *>(QStringLiteral("summarySymbol"))->property("symbolName"),
              QStringLiteral("list.bullet.rectangle"));
    EXPECT_EQ(empty.findChild<QLabel *>(QStringLiteral("variableCount")), nullptr);
    EXPECT_NE(empty.findChild<QWidget *>(QStringLiteral("noVariablesCard")), nullptr);
}
