#include "AppFixture.h"

#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "app/QuitConfirmationDialog.h"
#include "app/TerminationSignals.h"
#include "records/ServiceRunHistoryRepository.h"
#include "support/NearlyFullDisk.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/TitledMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimeZone>
#include <QSignalSpy>

namespace {

struct QuitFlowTest : AppFixture {
    std::unique_ptr<MenuBarController> menuBar;
    std::unique_ptr<AppDelegate> delegate;
    int quits = 0;
    std::function<bool()> reply = [] { return true; };
    int questions = 0;

    void makeDelegate()
    {
        menuBar = std::make_unique<MenuBarController>();
        delegate = std::make_unique<AppDelegate>(*app, *menuBar);
        delegate->setQuitConfirmation([this]() -> QCoro::Task<bool> {
            ++questions;
            co_return reply();
        });
        QObject::connect(delegate.get(), &AppDelegate::quitRequested, [this] { ++quits; });
    }

    QUuid startService(const QString &name, const QString &command)
    {
        const QUuid id = addService(name, command).id;
        await(app->serviceManager().start(id));
        EXPECT_TRUE(waitUntil([&] { return app->serviceManager().runtime().value(id).pid.has_value(); }));
        return id;
    }

    qint32 pidOf(const QUuid &id) const { return *app->serviceManager().runtime().value(id).pid; }

    ~QuitFlowTest() override
    {
        delegate.reset();
        menuBar.reset();
    }
};

} // namespace

TEST_F(QuitFlowTest, CancelStopsNothingAndAsksAgainNextTime)
{
    buildReady();
    makeDelegate();
    const QUuid id = startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));
    reply = [] { return false; };

    EXPECT_FALSE(await(delegate->requestQuit()));
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(delegate->allowTermination());
    EXPECT_FALSE(delegate->isPreparingTermination());
    EXPECT_TRUE(isRunning(id));

    await(delegate->requestQuit());
    EXPECT_EQ(questions, 2);
}

TEST_F(QuitFlowTest, ConfirmLocksBeforeItForceStopsAndQuitsAfterEveryRunIsRecorded)
{
    buildReady();
    makeDelegate();
    await(app->protectedProfilesLockManager().unlock(ProtectedUnlockReason::migrateLegacyServices()));
    // One service whose child leaves a grandchild in its group.
    const QUuid parent = startService(QStringLiteral("parent"), QStringLiteral("sleep 30 & sleep 30; wait"));
    const QUuid plain = startService(QStringLiteral("plain"), QStringLiteral("sleep 30"));
    const QList<qint32> groups {pidOf(parent), pidOf(plain)};

    bool runningWhenLocked = false;
    bool stoppedWhenQuitting = false;
    const QObject receiver; // ends the connections with the body: the managers and the delegate outlive it
    QObject::connect(&app->protectedProfilesLockManager(), &ProtectedProfilesLockManager::protectedProfilesDidLock,
                     &receiver, [&] { runningWhenLocked = isRunning(parent) && isRunning(plain); });
    QObject::connect(delegate.get(), &AppDelegate::quitRequested, &receiver, [&] {
        stoppedWhenQuitting = !isRunning(parent) && !isRunning(plain) && !anyProcessInGroups(groups);
    });

    EXPECT_TRUE(await(delegate->requestQuit()));
    // One quit path: the panel's controller ran the preparation and holds the permission.
    EXPECT_TRUE(menuBar->isPreparingTermination());
    EXPECT_TRUE(menuBar->allowTermination());
    EXPECT_TRUE(runningWhenLocked);
    EXPECT_TRUE(stoppedWhenQuitting);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->protectedProfilesLockManager().isUnlocked());

    // Both runs are on disk by the time the application may quit.
    ServiceRunHistoryRepository stored(dataFile(QStringLiteral("run-history.json")));
    const QList<ServiceRunRecord> runs = await(stored.load());
    ASSERT_EQ(runs.size(), 2);
    for (const ServiceRunRecord &run : runs)
        EXPECT_EQ(run.stopReason, ServiceRunStopReason::forceKilled);
}

TEST_F(QuitFlowTest, AQuitOverALargeHistoryRecordsEveryRunAndKeepsTheStoredOnes)
{
    // 500 stored runs of 40000 characters each: a file of about 20 MB.
    QList<ServiceRunRecord> stored;
    for (int index = 0; index < 500; ++index) {
        ServiceRunRecord run;
        run.id = QUuid::createUuid();
        run.serviceId = QUuid::createUuid();
        run.startedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 - index, QTimeZone::utc());
        run.endedAt = run.startedAt.addSecs(30);
        run.output = QStringLiteral("line %1 of a long build log\n").arg(index).repeated(1400);
        stored.append(run);
    }
    QDir().mkpath(applicationSupportDirectory());
    await(ServiceRunHistoryRepository(dataFile(QStringLiteral("run-history.json"))).replaceAll(stored));
    buildReady();
    makeDelegate();
    QList<QUuid> running;
    for (int index = 0; index < 10; ++index)
        running.append(startService(QStringLiteral("sleeper %1").arg(index), QStringLiteral("sleep 30")));

    EXPECT_TRUE(await(delegate->requestQuit()));
    EXPECT_EQ(quits, 1);
    const QList<ServiceRunRecord> runs =
        await(ServiceRunHistoryRepository(dataFile(QStringLiteral("run-history.json"))).load());
    ASSERT_EQ(runs.size(), 510);
    for (const QUuid &service : running) {
        EXPECT_EQ(std::count_if(runs.cbegin(), runs.cend(), [&](const auto &run) { return run.serviceId == service; }),
                  1);
    }
    EXPECT_EQ(runs.mid(10), stored);
}

TEST_F(QuitFlowTest, ConcurrentQuitsShareOnePreparationAndQuitOnce)
{
    buildReady();
    makeDelegate();
    const QUuid id = startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));

    std::optional<bool> first;
    std::optional<bool> second;
    auto quit = [](AppDelegate &flow, std::optional<bool> &result) -> QCoro::Task<> {
        result = co_await flow.requestQuit();
    };
    auto firstTask = quit(*delegate, first);
    ASSERT_TRUE(delegate->isPreparingTermination());
    auto secondTask = quit(*delegate, second); // no second question: quitting is allowed now
    EXPECT_FALSE(second.has_value());          // it waits for the same preparation

    ASSERT_TRUE(waitUntil([&] { return first && second; }, 20000));
    EXPECT_TRUE(*first && *second);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(isRunning(id));
}

TEST_F(QuitFlowTest, TerminationSignalQuitsWithoutAskingAndClosesAnOpenQuestion)
{
    buildReady();
    makeDelegate();
    // The default question: the main window's dialog, left open.
    delegate->setQuitConfirmation([this] { return app->presentQuitConfirmation(); });
    const QUuid id = startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));
    delegate->startQuit();
    ASSERT_TRUE(app->isQuitConfirmationPresented());

    TerminationSignals signalPipe;
    ASSERT_TRUE(signalPipe.isInstalled());
    QObject::connect(&signalPipe, &TerminationSignals::terminationRequested, delegate.get(),
                     &AppDelegate::quitWithoutConfirmation);
    ::raise(SIGTERM);

    ASSERT_TRUE(waitUntil([&] { return quits > 0; }, 20000));
    EXPECT_FALSE(app->isQuitConfirmationPresented());
    EXPECT_FALSE(isRunning(id));
    EXPECT_EQ(app->runHistoryManager().records(id).size(), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
}

TEST_F(QuitFlowTest, QuitDialogNamesTheRunningServicesAndAnswersOnce)
{
    buildReady();
    makeDelegate();
    delegate->setQuitConfirmation([this] { return app->presentQuitConfirmation(); });
    ContentView view(*app);

    // Nothing runs: "Quit" and no message.
    std::optional<bool> answer;
    auto ask = [](AppEnvironment &environment, std::optional<bool> &result) -> QCoro::Task<> {
        result = co_await environment.presentQuitConfirmation();
    };
    auto question = ask(*app, answer);
    ASSERT_NE(view.quitDialog(), nullptr);
    EXPECT_EQ(view.quitDialog()->text(), QStringLiteral("Quit Velmora?"));
    EXPECT_EQ(view.quitDialog()->quitButton()->text(), QStringLiteral("Quit"));
    EXPECT_TRUE(view.quitDialog()->informativeText().isEmpty());
    QPointer<QuitConfirmationDialog> dialog = view.quitDialog();
    dialog->cancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }));
    EXPECT_FALSE(*answer);
    EXPECT_FALSE(app->isQuitConfirmationPresented());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());

    // One running service: "Quit & Terminate" and the singular warning; a
    // click and the dialog's own closing answer only once.
    startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));
    answer.reset();
    auto again = ask(*app, answer);
    ASSERT_NE(view.quitDialog(), nullptr);
    EXPECT_EQ(view.quitDialog()->quitButton()->text(), QStringLiteral("Quit && Terminate"));
    EXPECT_EQ(view.quitDialog()->informativeText(), QStringLiteral("All 1 running service will be terminated."));
    view.quitDialog()->quitButton()->click();
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }));
    EXPECT_TRUE(*answer);
    EXPECT_FALSE(app->hasPendingQuitConfirmation());
}

TEST_F(QuitFlowTest, ClosingTheMainWindowOnlyHidesIt)
{
    build(true);
    makeDelegate();
    MainWindow window(*app, *delegate);
    window.show();
    ASSERT_TRUE(window.close());
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isHidden());
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(delegate->isPreparingTermination());

    // The File menu's Quit goes through the quit flow.
    window.quitAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return quits == 1; }));
    EXPECT_EQ(questions, 1);
}

TEST_F(QuitFlowTest, RunsSavedNowhereAreNamedWithTryAgainUnlessTheSessionEnds)
{
    buildReady();
    makeDelegate();
    QList<QList<ServiceRunRecord>> asked;
    bool tryAgain = true;
    delegate->setUnsavedRunsQuestion([&](QList<ServiceRunRecord> runs) -> QCoro::Task<bool> {
        asked.append(runs);
        co_return std::exchange(tryAgain, false);
    });
    const QUuid id = startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));
    {
        // No room for the history nor for the file beside it.
        const NearlyFullDisk disk(16);
        EXPECT_TRUE(await(delegate->requestQuit()));
    }
    // Asked, tried again without room, asked again, quit anyway.
    ASSERT_EQ(asked.size(), 2);
    ASSERT_EQ(asked.first().size(), 1);
    EXPECT_EQ(asked.first().first().serviceId, id);
    EXPECT_EQ(quits, 1);
}

TEST_F(QuitFlowTest, AnEndingSessionQuitsWithoutAskingAboutUnsavedRuns)
{
    buildReady();
    makeDelegate();
    int asked = 0;
    delegate->setUnsavedRunsQuestion([&](QList<ServiceRunRecord>) -> QCoro::Task<bool> {
        ++asked;
        co_return true;
    });
    startService(QStringLiteral("sleeper"), QStringLiteral("sleep 30"));
    const NearlyFullDisk disk(16);
    delegate->quitForEndingSession();
    ASSERT_TRUE(waitUntil([&] { return quits > 0; }, 20000));
    EXPECT_EQ(asked, 0);
}

TEST_F(QuitFlowTest, TheUnsavedRunsQuestionDatesRunsAsEveryScreenDoesAndNamesAtMostTen)
{
    buildReady();
    makeDelegate();
    ServiceRunRecord run;
    run.serviceId = addService(QStringLiteral("web\u2029api"), QStringLiteral("true")).id;
    run.startedAt = QDateTime(QDate(2026, 12, 8), QTime(4, 8), QTimeZone::utc());
    const QString message = delegate->unsavedRunsMessage(QList<ServiceRunRecord>(12, run));
    EXPECT_EQ(message.count(QStringLiteral("• web api, started ") + formatOptionalDate(run.startedAt) + u'\n'), 10);
    EXPECT_TRUE(message.endsWith(QStringLiteral("\nand 2 more")));
}

TEST_F(QuitFlowTest, TheUnsavedRunsAlertFitsTheScreenWhateverTheNames)
{
    buildReady();
    makeDelegate();
    const QString name = QStringLiteral("Nightly backup of the production database ").repeated(5) + QString(190, u'n');
    const QUuid id = addService(name, QStringLiteral("true")).id;
    const NearlyFullDisk disk(16);
    for (qsizetype started = 1; started <= 10; ++started) {
        await(app->serviceManager().start(id));
        ASSERT_TRUE(waitUntil([&] { return app->runHistoryManager().records(id).size() == started; }));
    }
    delegate->startQuit();
    TitledMessageBox *box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *shown = qobject_cast<TitledMessageBox *>(window); shown && shown->isVisible())
                box = shown;
        return box != nullptr;
    }));
    // The offscreen screen is 800 by 600; both buttons show on it.
    const QRect screen = box->screen()->availableGeometry();
    QAbstractButton *quitAnyway = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        EXPECT_TRUE(screen.contains(QRect(button->mapToGlobal(QPoint()), button->size())))
            << button->text().toStdString();
        if (button->text() == QStringLiteral("Quit Anyway"))
            quitAnyway = button;
    }
    // The list names fewer runs, saying how many it leaves out; a screen reader hears each name whole.
    EXPECT_TRUE(box->informativeText().endsWith(QStringLiteral(" more")));
    EXPECT_TRUE(box->accessibleDescription().contains(name));
    ASSERT_NE(quitAnyway, nullptr);
    quitAnyway->click();
    EXPECT_TRUE(waitUntil([&] { return quits == 1; }));
}
