#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerFixture.h"
#include "support/LogCapture.h"
#include "ui/components/MacSecureField.h"
#include "ui/components/StyledLabel.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuServiceRow.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/menubar/MenuToggleGlyphButton.h"

#include <QPushButton>
#include <QTest>

using Mode = MenuBarStatusController::Mode;

// The panel's content over a real service manager on fake platform layers.
struct MenuBarStatusTest : ServiceManagerTest {
    QList<QUuid> openedServices;
    int quitCalls = 0;
    int sizeReports = 0;

    std::unique_ptr<MenuBarStatusView> makeView(bool applicationReady = true)
    {
        auto view = std::make_unique<MenuBarStatusView>(&manager, &profiles, &lockManager, nullptr, applicationReady);
        QObject::connect(view->controller(), &MenuBarStatusController::openServiceRequested,
                         [this](const QUuid &id) { openedServices.append(id); });
        QObject::connect(view->controller(), &MenuBarStatusController::quitRequested, [this] { ++quitCalls; });
        QObject::connect(view.get(), &MenuBarStatusView::contentSizeMayHaveChanged, [this] { ++sizeReports; });
        return view;
    }

    MenuServiceRow *row(MenuBarStatusView &view, const QUuid &id)
    {
        for (MenuServiceRow *candidate : view.rows()) {
            if (candidate->serviceId() == id)
                return candidate;
        }
        return nullptr;
    }

    bool waitForMode(MenuBarStatusView &view, Mode mode)
    {
        return waitUntil([&] { return view.controller()->mode() == mode; });
    }

    ManagedService lockedProtectedService(const QString &command)
    {
        const EnvironmentProfile vault = saveProfile(QStringLiteral("vault"), {variable("A", "1")}, true);
        lockManager.lock();
        return addService(QStringLiteral("api"), command, vault.id);
    }
};

TEST_F(MenuBarStatusTest, ListShowsSevenRowsRunningFirstAndCountsTheRest)
{
    for (const char *name : {"golf", "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "hotel", "india"})
        addService(QString::fromLatin1(name), QStringLiteral("sleep 30"));
    const ManagedService zeta = addService(QStringLiteral("zeta"), QStringLiteral("sleep 30"));
    await(manager.start(zeta.id));

    auto view = makeView();
    ASSERT_EQ(view->rows().size(), 7);
    EXPECT_EQ(view->rows().first()->serviceId(), zeta.id);
    EXPECT_EQ(view->rows()[1]->service().name, QStringLiteral("alpha"));
    ASSERT_NE(view->moreServicesButton(), nullptr);
    EXPECT_EQ(view->moreServicesButton()->text(), QStringLiteral("3 more in app…"));
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("1 service running · 10 services total"));
    MenuServiceRow *zetaRow = row(*view, zeta.id);
    ASSERT_NE(zetaRow, nullptr);
    EXPECT_TRUE(zetaRow->toggleButton()->isRunning());
    EXPECT_EQ(zetaRow->toggleButton()->symbolName(), QStringLiteral("stop.fill"));
    // Listed apart from their rows, the buttons say whose they are; the tooltip stays short.
    EXPECT_EQ(zetaRow->toggleButton()->accessibleName(), QStringLiteral("Stop zeta"));
    EXPECT_EQ(zetaRow->toggleButton()->toolTip(), QStringLiteral("Stop"));
    EXPECT_EQ(view->rows()[1]->toggleButton()->accessibleName(), QStringLiteral("Start alpha"));

    // Three services fewer: seven left, all shown, no more-services button.
    for (int index = 0; index < 3; ++index)
        await(manager.deleteService(view->rows().last()->serviceId()));
    ASSERT_TRUE(waitUntil([&] { return view->rows().size() == 7 && !view->moreServicesButton(); }));
    EXPECT_GT(sizeReports, 0);

    view->rows().first()->openButton()->click();
    EXPECT_EQ(openedServices, QList<QUuid> {zeta.id});
    await(manager.stop(zeta.id, true));
}

TEST_F(MenuBarStatusTest, ThePanelOpenedDuringStartUpShowsTheListOnceReady)
{
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
    auto view = makeView(false);
    EXPECT_NE(view->progressIndicator(), nullptr);
    EXPECT_TRUE(view->rows().isEmpty());

    const int reportsBefore = sizeReports;
    view->controller()->setApplicationReady(true);
    EXPECT_EQ(view->progressIndicator(), nullptr);
    ASSERT_EQ(view->rows().size(), 1);
    EXPECT_EQ(view->rows().first()->serviceId(), api.id);
    EXPECT_TRUE(waitUntil([&] { return sizeReports > reportsBefore; }));
}

TEST_F(MenuBarStatusTest, QuitConfirmationNamesTheRunningServicesWhileItIsShown)
{
    auto view = makeView();
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("No services"));
    ASSERT_NE(view->emptyState(), nullptr);
    view->footerQuitButton()->click();
    ASSERT_NE(view->confirmQuitButton(), nullptr);
    EXPECT_EQ(view->confirmQuitButton()->text(), QStringLiteral("Quit"));
    ASSERT_NE(view->quitWarningLabel(), nullptr);
    EXPECT_FALSE(view->quitWarningLabel()->isVisibleTo(view.get()));
    EXPECT_FALSE(view->footerQuitButton()->isVisibleTo(view.get()));
    view->cancelQuitButton()->click();
    EXPECT_EQ(view->controller()->mode(), Mode::services);

    QList<QUuid> ids;
    for (const char *name : {"a", "b", "c"}) {
        ids.append(addService(QString::fromLatin1(name), QStringLiteral("sleep 30")).id);
        await(manager.start(ids.last()));
    }
    view->footerQuitButton()->click();
    EXPECT_EQ(view->confirmQuitButton()->text(), QStringLiteral("Quit && Terminate"));
    EXPECT_TRUE(view->quitWarningLabel()->isVisibleTo(view.get()));
    EXPECT_EQ(view->quitWarningLabel()->text(), QStringLiteral("All 3 running services will be terminated."));

    // Services stopping while the question is up: its warning and button follow.
    await(manager.stop(ids[0], true));
    ASSERT_TRUE(waitUntil([&] {
        return view->quitWarningLabel()->text() == QStringLiteral("All 2 running services will be terminated.");
    }));
    await(manager.stop(ids[1], true));
    await(manager.stop(ids[2], true));
    ASSERT_TRUE(waitUntil([&] { return view->confirmQuitButton()->text() == QStringLiteral("Quit"); }));
    EXPECT_FALSE(view->quitWarningLabel()->isVisibleTo(view.get()));
    await(manager.start(ids[0]));
    ASSERT_TRUE(waitUntil([&] { return view->confirmQuitButton()->text() == QStringLiteral("Quit && Terminate"); }));
    EXPECT_EQ(view->quitWarningLabel()->text(), QStringLiteral("All 1 running service will be terminated."));

    view->confirmQuitButton()->click();
    EXPECT_EQ(quitCalls, 1);
    await(manager.stopAll(true));
}

TEST_F(MenuBarStatusTest, ReviewThenSudoPromptAndTheQuitQuestionOnTop)
{
    const ManagedService sudoService = addService(QStringLiteral("root job"), QStringLiteral("sudo true"));
    const ManagedService other = addService(QStringLiteral("other"), QStringLiteral("sudo false"));
    auto view = makeView();

    // sudo is a privileged launch: the review comes first.
    MenuServiceRow *sudoRow = row(*view, sudoService.id);
    ASSERT_NE(sudoRow, nullptr);
    sudoRow->toggleButton()->click();
    ASSERT_TRUE(waitForMode(*view, Mode::threatReview));
    ASSERT_NE(view->reviewView(), nullptr);
    ASSERT_NE(view->reviewView()->runAnywayButton(), nullptr);
    view->reviewView()->runAnywayButton()->click();
    ASSERT_TRUE(waitForMode(*view, Mode::sudoPrompt));
    const SudoPasswordRequest request = *view->controller()->sudoRequest();
    EXPECT_EQ(request.serviceId, sudoService.id);
    ASSERT_TRUE(request.commandThreatApproval);
    EXPECT_EQ(request.commandThreatApproval->commandFingerprint,
              CommandThreatScanner::assess(sudoService.command).commandFingerprint);

    // A review outranks the open sudo prompt; closing it brings the prompt back.
    view->controller()->toggleService(other);
    ASSERT_TRUE(waitForMode(*view, Mode::threatReview));
    view->reviewView()->cancelButton()->click();
    ASSERT_EQ(view->controller()->mode(), Mode::sudoPrompt);

    // The quit question outranks both and hides the prompt's half-typed password.
    view->sudoView()->passwordField()->setText(QStringLiteral("half"));
    view->footerQuitButton()->click();
    EXPECT_EQ(view->controller()->mode(), Mode::quitConfirmation);
    EXPECT_EQ(view->sudoView(), nullptr);
    view->cancelQuitButton()->click();
    ASSERT_EQ(view->controller()->mode(), Mode::sudoPrompt);
    EXPECT_TRUE(view->sudoView()->passwordField()->text().isEmpty());
    EXPECT_EQ(view->controller()->sudoRequest(), request);
    EXPECT_FALSE(running(sudoService.id));
}

TEST_F(MenuBarStatusTest, ReviewAndSudoPromptAnswerEscapeAndReturnWhereverThePanelFocusIs)
{
    const ManagedService sudoService = addService(QStringLiteral("root job"), QStringLiteral("sudo true"));
    auto view = makeView();
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));

    // The click on the row's toggle leaves the keyboard focus outside the review.
    ASSERT_NE(row(*view, sudoService.id), nullptr);
    for (const auto &[key, next] :
         {std::pair(Qt::Key_Escape, Mode::services), std::pair(Qt::Key_Return, Mode::sudoPrompt)}) {
        row(*view, sudoService.id)->toggleButton()->click();
        ASSERT_TRUE(waitForMode(*view, Mode::threatReview));
        ASSERT_TRUE(waitUntil([&] { return view->reviewView()->isVisible(); }));
        view->setFocus();
        QTest::keyClick(view.get(), key);
        EXPECT_TRUE(waitForMode(*view, next)) << key;
    }

    // The sudo prompt that follows answers the same way.
    ASSERT_TRUE(waitUntil([&] { return view->sudoView() && view->sudoView()->isVisible(); }));
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_TRUE(waitForMode(*view, Mode::services));
}

TEST_F(MenuBarStatusTest, ToggleStartsStopsAndSendsTerminalSudoStraightToTheTerminal)
{
    const ManagedService plain = addService(QStringLiteral("plain"), QStringLiteral("sleep 30"));
    const ManagedService terminalSudo =
        addService(QStringLiteral("term"), QStringLiteral("sudo true"), std::nullopt, true);
    auto view = makeView();

    await(view->controller()->toggleService(plain));
    ASSERT_TRUE(running(plain.id));
    await(view->controller()->toggleService(*manager.service(plain.id)));
    ASSERT_TRUE(waitForStopped(plain.id));

    await(view->controller()->toggleService(terminalSudo));
    ASSERT_EQ(view->controller()->mode(), Mode::threatReview);
    view->reviewView()->runAnywayButton()->click();
    ASSERT_TRUE(waitUntil([&] { return terminal->launched.size() == 1; }));
    EXPECT_EQ(view->controller()->mode(), Mode::services);
}

TEST_F(MenuBarStatusTest, CancelledUnlockIsSilentUntilTheSudoPromptShowsIt)
{
    const ManagedService service = lockedProtectedService(QStringLiteral("sudo true"));
    auto view = makeView();
    LogCapture log;
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    await(view->controller()->toggleService(service));
    EXPECT_EQ(view->controller()->mode(), Mode::services);
    EXPECT_FALSE(log.contains(QStringLiteral("Menu bar")));

    // With the unlock allowed the road reaches the sudo prompt; a start that
    // fails there shows its error and keeps the prompt.
    authenticator->failure.reset();
    await(view->controller()->toggleService(service));
    ASSERT_EQ(view->controller()->mode(), Mode::threatReview);
    await(view->controller()->launchAfterReview(*view->controller()->commandThreatRequest()));
    view->controller()->cancelReview();
    ASSERT_EQ(view->controller()->mode(), Mode::sudoPrompt);
    lockManager.lock();
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    view->sudoView()->passwordField()->setText(QStringLiteral("secret"));
    view->sudoView()->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return view->controller()->sudoErrorMessage().has_value(); }));
    EXPECT_EQ(*view->controller()->sudoErrorMessage(), QStringLiteral("Unlock canceled."));
    EXPECT_EQ(view->controller()->mode(), Mode::sudoPrompt);
    ASSERT_NE(view->sudoView()->errorLabel(), nullptr);
    EXPECT_EQ(view->sudoView()->errorLabel()->text(), QStringLiteral("Unlock canceled."));
    EXPECT_TRUE(view->sudoView()->passwordField()->text().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Menu bar sudo launch failed: Unlock canceled.")));
}

TEST_F(MenuBarStatusTest, AFlowOutlivesTheClosedPanel)
{
    const ManagedService service = lockedProtectedService(QStringLiteral("sleep 30"));
    auto view = makeView();
    keys->setHolding(true);
    MenuServiceRow *serviceRow = row(*view, service.id);
    ASSERT_NE(serviceRow, nullptr);
    serviceRow->toggleButton()->click();
    ASSERT_TRUE(waitUntil([&] { return keys->pendingCount() == 1; }));
    view.reset();
    keys->releasePending();
    ASSERT_TRUE(waitUntil([&] { return running(service.id); }));
    await(manager.stop(service.id, true));
}

TEST(MenuSudoPasswordPromptView, OneReturnSubmitsOnceUntrimmedAndEmptyIsIgnored)
{
    QStringList submitted;
    MenuSudoPasswordPromptView prompt({QUuid::createUuid(), QStringLiteral("api"), SudoLaunchAction::restart, {}},
                                      std::nullopt);
    QObject::connect(
        &prompt, &MenuSudoPasswordPromptView::passwordSubmitted,
        [&](const SharedSensitiveBytes &password) { submitted.append(QString::fromUtf8(password->view())); });
    prompt.show();
    EXPECT_EQ(prompt.confirmButton()->text(), QStringLiteral("Restart"));
    EXPECT_FALSE(prompt.confirmButton()->isEnabled());
    QTest::keyClick(prompt.passwordField(), Qt::Key_Return);
    EXPECT_TRUE(submitted.isEmpty());

    prompt.passwordField()->setText(QStringLiteral("  "));
    QTest::keyClick(prompt.passwordField(), Qt::Key_Return);
    prompt.confirmButton()->click();
    EXPECT_EQ(submitted, QStringList {QStringLiteral("  ")});
    EXPECT_TRUE(prompt.passwordField()->text().isEmpty());
}

TEST(MenuCommandThreatReviewView, ACriticalFindingLeavesOnlyClose)
{
    int cancels = 0;
    const CommandThreatAssessment assessment = CommandThreatScanner::assess(QStringLiteral("rm -rf /"));
    MenuCommandThreatReviewView review(
        {QUuid::createUuid(), QStringLiteral("api"), SudoLaunchAction::start, assessment});
    QObject::connect(&review, &MenuCommandThreatReviewView::runAnywayRequested,
                     [] { ADD_FAILURE() << "a blocked command cannot run"; });
    QObject::connect(&review, &MenuCommandThreatReviewView::cancelRequested, [&] { ++cancels; });
    review.show();
    review.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&review));
    EXPECT_EQ(review.cancelButton()->text(), QStringLiteral("Close"));
    EXPECT_EQ(review.runAnywayButton(), nullptr);
    QTest::keyClick(&review, Qt::Key_Return);
    EXPECT_EQ(cancels, 0);
    QTest::keyClick(&review, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(MenuCommandThreatReviewView::findingsHeight(0), 76);
    EXPECT_EQ(MenuCommandThreatReviewView::findingsHeight(3), 228);
    EXPECT_EQ(MenuCommandThreatReviewView::findingsHeight(9), 260);
}
