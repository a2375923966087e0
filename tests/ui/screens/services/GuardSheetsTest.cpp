#include "execution/SudoPasswordResponder.h"
#include "support/Await.h"
#include "support/ProcessMemory.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/SudoPasswordPromptView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

CommandThreatFinding finding(const char *rule, CommandThreatSeverity severity)
{
    return {QString::fromUtf8(rule), severity, QStringLiteral("Title"), QStringLiteral("Why"), QStringLiteral("What")};
}

QStringList buttonTexts(QWidget &parent)
{
    QStringList texts;
    for (QPushButton *button : parent.findChildren<QPushButton *>())
        texts.append(button->text());
    return texts;
}

} // namespace

TEST(SudoPasswordPrompt, SubmitsTheUntrimmedPasswordOnceAndReturnNeverRunsWithoutIt)
{
    QStringList submitted;
    int withoutPassword = 0;
    int cancelled = 0;
    SudoPasswordPromptView sheet({QUuid::createUuid(), QStringLiteral("api"), SudoLaunchAction::start, {}});
    QObject::connect(&sheet, &SudoPasswordPromptView::passwordSubmitted, [&](const SharedSensitiveBytes &password) {
        submitted.append(QString::fromUtf8(password->view()));
    });
    QObject::connect(&sheet, &SudoPasswordPromptView::runWithoutPasswordRequested, [&] { ++withoutPassword; });
    QObject::connect(&sheet, &SudoPasswordPromptView::cancelRequested, [&] { ++cancelled; });
    sheet.show();
    auto *field = sheet.findChild<QLineEdit *>(QStringLiteral("passwordField"));
    auto *launch = sheet.findChild<QPushButton *>(QStringLiteral("launchButton"));
    EXPECT_EQ(buttonTexts(sheet), (QStringList {QStringLiteral("Cancel"), QStringLiteral("Start Without Password"),
                                                QStringLiteral("Start")}));
    EXPECT_FALSE(launch->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(submitted.isEmpty());
    EXPECT_EQ(withoutPassword, 0);

    QTest::keyClicks(field, QStringLiteral(" "));
    EXPECT_TRUE(launch->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(submitted, QStringList {QStringLiteral(" ")});
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(withoutPassword, 0);

    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_EQ(cancelled, 1);

    SudoPasswordPromptView restart({QUuid::createUuid(), QStringLiteral("api"), SudoLaunchAction::restart, {}});
    EXPECT_EQ(buttonTexts(restart), (QStringList {QStringLiteral("Cancel"), QStringLiteral("Restart Without Password"),
                                                  QStringLiteral("Restart")}));
}

TEST(CommandThreatReview, BlockedOffersOnlyCloseAndReviewOffersRunAnyway)
{
    int runs = 0;
    int cancels = 0;
    const CommandThreatReviewRequest blocked {
        QUuid::createUuid(),
        QStringLiteral("wipe"),
        SudoLaunchAction::start,
        {QStringLiteral("f"),
         {finding("disk", CommandThreatSeverity::critical), finding("m", CommandThreatSeverity::medium)}}};
    CommandThreatReviewView blockedSheet(blocked);
    QObject::connect(&blockedSheet, &CommandThreatReviewView::runAnywayRequested, [&] { ++runs; });
    QObject::connect(&blockedSheet, &CommandThreatReviewView::cancelRequested, [&] { ++cancels; });
    blockedSheet.show();
    EXPECT_EQ(buttonTexts(blockedSheet), QStringList {QStringLiteral("Close")});
    EXPECT_EQ(blockedSheet.windowTitle(), QStringLiteral("Command Blocked"));
    QTest::keyClick(&blockedSheet, Qt::Key_Return);
    QTest::keyClick(&blockedSheet, Qt::Key_Escape);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(cancels, 1);

    const CommandThreatReviewRequest risky {QUuid::createUuid(),
                                            QStringLiteral("peek"),
                                            SudoLaunchAction::start,
                                            {QStringLiteral("g"), {finding("ssh", CommandThreatSeverity::high)}}};
    CommandThreatReviewView riskySheet(risky);
    QObject::connect(&riskySheet, &CommandThreatReviewView::runAnywayRequested, [&] { ++runs; });
    QObject::connect(&riskySheet, &CommandThreatReviewView::cancelRequested, [&] { ++cancels; });
    riskySheet.show();
    EXPECT_EQ(buttonTexts(riskySheet), (QStringList {QStringLiteral("Cancel"), QStringLiteral("Run Anyway")}));
    QTest::keyClick(&riskySheet, Qt::Key_Return);
    EXPECT_EQ(runs, 1);

    const auto height = [](int critical, int others) {
        CommandThreatAssessment assessment;
        for (int i = 0; i < critical; ++i)
            assessment.findings.append(finding("c", CommandThreatSeverity::critical));
        for (int i = 0; i < others; ++i)
            assessment.findings.append(finding("m", CommandThreatSeverity::medium));
        return CommandThreatReviewView::preferredHeight(assessment);
    };
    EXPECT_EQ(height(0, 0), 300);
    EXPECT_EQ(height(0, 3), 435);
    EXPECT_EQ(height(1, 0), 300);
    EXPECT_EQ(height(1, 4), 600);
    EXPECT_EQ(height(0, 8), 620);
}

TEST(SudoPasswordPrompt, PasswordIsGoneFromMemoryAfterItsLifetime)
{
    // The canary exists in plain form only while it is typed.
    constexpr char mask = 0x5A;
    QByteArray maskedUtf8;
    QByteArray maskedUtf16;
    {
        QString canary = QStringLiteral("canary-") + QUuid::createUuid().toString(QUuid::Id128);
        for (QChar c : canary) {
            maskedUtf8.append(char(c.toLatin1() ^ mask));
            maskedUtf16.append(char(c.toLatin1() ^ mask)).append(char(0 ^ mask));
        }
        SharedSensitiveBytes taken;
        SudoPasswordPromptView sheet({QUuid::createUuid(), QStringLiteral("api"), SudoLaunchAction::start, {}});
        QObject::connect(&sheet, &SudoPasswordPromptView::passwordSubmitted,
                         [&](const SharedSensitiveBytes &password) { taken = password; });
        sheet.show();
        auto *field = sheet.findChild<QLineEdit *>(QStringLiteral("passwordField"));
        QTest::keyClicks(field, canary);
        SensitiveBytes::wipe(canary);
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(taken);
        EXPECT_TRUE(isLeftOutOfCoreDumps(taken->view().data()));

        const auto responder =
            SudoPasswordResponder::make(taken->view(), QStringLiteral("[Velmora sudo Q] password: "));
        taken.reset();
        // The search does find the password while it is still needed.
        EXPECT_TRUE(processMemoryContains(maskedUtf8, mask));
        responder->scheduleClearPassword(std::chrono::milliseconds(10));
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return clock.elapsed() > 50; }, 1000);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(processMemoryContains(maskedUtf8, mask));
    EXPECT_FALSE(processMemoryContains(maskedUtf16, mask));
}
