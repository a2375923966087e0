#include "ui/screens/profiles/ProfileDetailView.h"
#include "ui/screens/profiles/ProfileVariableRow.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>

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
    const auto three =
        profileWith({var(QStringLiteral("A"), QStringLiteral("1")),
                     var(QStringLiteral("B"), QStringLiteral("hidden"), true), var(QString(), QString())},
                    true);
    // Profile, locked, summary, its symbol, the count capsule ("" for none), dividers.
    const QList<std::tuple<EnvironmentProfile, bool, QString, QString, QString, int>> cases {
        {three, true, QStringLiteral("Protected profile"), QStringLiteral("lock.fill"), QString(), 0},
        {three, false, QStringLiteral("3 variables"), QStringLiteral("lock.open.fill"), QStringLiteral("3"), 2},
        {profileWith({}), false, QStringLiteral("0 variables"), QStringLiteral("list.bullet.rectangle"), QString(), 0},
    };
    for (const auto &[profile, locked, summary, symbol, count, dividers] : cases) {
        SCOPED_TRACE(summary.toStdString());
        int edits = 0;
        ProfileDetailView view(profile, locked);
        QObject::connect(&view, &ProfileDetailView::editRequested, [&edits] { ++edits; });
        EXPECT_EQ(view.findChild<QLabel *>(QStringLiteral("summaryText"))->text(), summary);
        EXPECT_EQ(view.findChild<QWidget *>(QStringLiteral("summarySymbol"))->property("symbolName"), symbol);
        const auto *capsule = view.findChild<QLabel *>(QStringLiteral("variableCount"));
        EXPECT_EQ(capsule ? capsule->text() : QString(), count);
        EXPECT_EQ(view.findChildren<QWidget *>(QStringLiteral("variableDivider")).size(), dividers);
        EXPECT_EQ(view.findChild<QWidget *>(QStringLiteral("noVariablesCard")) != nullptr,
                  !locked && profile.variables.isEmpty());
        EXPECT_EQ(view.findChild<QPushButton *>(QStringLiteral("unlockButton")) != nullptr, locked);
        for (const QLabel *label : view.findChildren<QLabel *>())
            EXPECT_FALSE(label->text().contains(QStringLiteral("hidden")));
        if (auto *edit = view.findChild<QPushButton *>(QStringLiteral("editButton")))
            edit->click();
        EXPECT_EQ(edits, locked ? 0 : 1);
    }
}

// Qt frees a selectable label's text document unwiped: a value becomes one at the first press, not when shown.
TEST(ProfileDetail, AValueBecomesSelectableTextAtTheFirstPress)
{
    ProfileVariableRow row(var(QStringLiteral("A"), QStringLiteral("some value")));
    row.resize(400, 40);
    row.show();
    auto *value = row.findChild<QLabel *>(QStringLiteral("variableValue"));
    EXPECT_EQ(value->findChild<QTextDocument *>(), nullptr);
    const int middle = value->height() / 2;
    QTest::mousePress(value, Qt::LeftButton, {}, QPoint(value->width() - 1, middle)); // past the right-aligned text
    QTest::mouseMove(value, QPoint(0, middle));
    QTest::mouseRelease(value, Qt::LeftButton, {}, QPoint(0, middle));
    EXPECT_EQ(value->selectedText(), QStringLiteral("some value"));
}
