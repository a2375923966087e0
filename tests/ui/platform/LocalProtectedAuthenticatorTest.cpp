#include "ui/platform/PasswordPromptDialog.h"
#include "ui/platform/LocalProtectedAuthenticator.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/ProtectedProfilesError.h"
#include "support/Await.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

PasswordPromptDialog *openPrompt()
{
    PasswordPromptDialog *found = nullptr;
    waitUntil([&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<PasswordPromptDialog *>(widget); dialog && dialog->isVisible())
                found = dialog;
        }
        return found != nullptr;
    });
    return found;
}

QPushButton *button(PasswordPromptDialog *dialog, const QString &text)
{
    for (QPushButton *candidate : dialog->findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

ProtectedProfilesError::Case failureOf(QCoro::Task<> task)
{
    try {
        await(std::move(task));
    } catch (const ProtectedProfilesError &error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "authentication unexpectedly succeeded";
    return ProtectedProfilesError::Case::locked;
}

} // namespace

TEST(LocalProtectedAuthenticator, CancelGivesAuthenticationCanceled)
{
    LocalProtectedAuthenticator authenticator;
    QTimer::singleShot(0, [] {
        PasswordPromptDialog *dialog = openPrompt();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->findChild<QLabel *>()->text().startsWith(
            QStringLiteral("Velmora is trying to unlock the protected environment profile “prod”")));
        // A screen reader names the field, not only its placeholder.
        EXPECT_EQ(dialog->findChild<QLineEdit *>()->accessibleName(), QStringLiteral("Password"));
        button(dialog, QStringLiteral("Cancel"))->click();
    });
    EXPECT_EQ(failureOf(authenticator.authenticate(ProtectedUnlockReason::viewProfile(QStringLiteral("prod")).text())),
              ProtectedProfilesError::Case::authenticationCanceled);
}

TEST(LocalProtectedAuthenticator, ThreeWrongPasswordsGiveAuthenticationFailed)
{
    LocalProtectedAuthenticator authenticator;
    int attempts = 0;
    // Types a wrong password whenever the prompt is ready for one.
    QTimer typist;
    typist.setInterval(50);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<PasswordPromptDialog *>(widget);
            if (!dialog || !dialog->isVisible())
                continue;
            auto *field = dialog->findChild<QLineEdit *>();
            if (!field->isEnabled() || !field->text().isEmpty())
                continue;
            field->setText(QStringLiteral("wrong-password"));
            button(dialog, QStringLiteral("Unlock"))->click();
            ++attempts;
        }
    });
    typist.start();
    EXPECT_EQ(failureOf(authenticator.authenticate(QStringLiteral("enable Protected Profiles"))),
              ProtectedProfilesError::Case::authenticationFailed);
    EXPECT_EQ(attempts, 3);
}

TEST(LocalProtectedAuthenticator, DismissingThePromptDuringTheCheckGivesAuthenticationCanceled)
{
    LocalProtectedAuthenticator authenticator;
    QTimer::singleShot(0, [] {
        PasswordPromptDialog *dialog = openPrompt();
        ASSERT_NE(dialog, nullptr);
        auto *field = dialog->findChild<QLineEdit *>();
        field->setText(QStringLiteral("wrong-password"));
        button(dialog, QStringLiteral("Unlock"))->click();
        // As Escape or the close button would, while the password is being checked.
        waitUntil([field] { return !field->isEnabled(); });
        dialog->reject();
    });
    ProtectedProfilesError::Case outcome = ProtectedProfilesError::Case::locked;
    try {
        await(authenticator.authenticate(QStringLiteral("enable Protected Profiles")), 15000);
    } catch (const ProtectedProfilesError &error) {
        outcome = error.errorCase();
    }
    EXPECT_EQ(outcome, ProtectedProfilesError::Case::authenticationCanceled);
}
