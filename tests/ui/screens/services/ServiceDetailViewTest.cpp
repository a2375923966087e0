#include "ServiceDetailViewFixture.h"

#include "ui/components/ConsoleOutputView.h"
#include "ui/components/LabeledValueText.h"
#include "ui/components/MetricCard.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/SymbolView.h"
#include "ui/components/WrappingText.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistoryRowOutcome.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"
#include "ui/screens/services/ServicesView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {

QString metric(const ServiceDetailViewTest &test, const char *card)
{
    return test.find<MetricCard>(card)->value();
}

const QString dash = QString(QChar(0x2014));

} // namespace

TEST(ServiceRunOutcome, ColourAndLabelFollowStopReasonAndExitCode)
{
    struct Case {
        ServiceRunStopReason reason;
        std::optional<qint32> exitCode;
        ServiceRunOutcomeColor colour;
        const char *label;
    };
    const Case cases[] = {
        {ServiceRunStopReason::exited, std::nullopt, ServiceRunOutcomeColor::green, "Exited"},
        {ServiceRunStopReason::exited, 0, ServiceRunOutcomeColor::green, "Exited"},
        {ServiceRunStopReason::exited, 1, ServiceRunOutcomeColor::red, "Exited"},
        {ServiceRunStopReason::exited, -1, ServiceRunOutcomeColor::red, "Exited"},
        {ServiceRunStopReason::exited, 137, ServiceRunOutcomeColor::red, "Exited"},
        {ServiceRunStopReason::stopped, 0, ServiceRunOutcomeColor::slate, "Stopped"},
        {ServiceRunStopReason::forceKilled, std::nullopt, ServiceRunOutcomeColor::red, "Force killed"},
        {ServiceRunStopReason::unexpected, 0, ServiceRunOutcomeColor::orange, "Ended unexpectedly"},
        {ServiceRunStopReason::securityBlocked, std::nullopt, ServiceRunOutcomeColor::red, "Blocked"},
    };
    for (const Case &c : cases) {
        ServiceRunRecord record;
        record.stopReason = c.reason;
        record.exitCode = c.exitCode;
        EXPECT_EQ(outcomeColor(record), c.colour) << c.label << " " << c.exitCode.value_or(-999);
        EXPECT_EQ(outcomeLabel(record), QString::fromUtf8(c.label));
    }
    EXPECT_EQ(securityWarningCountText(1), QStringLiteral("1 warning"));
    EXPECT_EQ(securityWarningCountText(2), QStringLiteral("2 warnings"));
}

TEST_F(ServiceDetailViewTest, StateTableDrivesBadgeButtonsAndMetrics)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    struct Case {
        ServiceLifecycleState state;
        const char *badge;
        ThemeColor color;
        bool start, stop, forceKill, edit;
    };
    const Case cases[] = {
        {ServiceLifecycleState::running, "Running", ThemeColor(Palette::Color::green), false, true, true, false},
        {ServiceLifecycleState::stopped, "Stopped", ThemeColor::secondary(), true, false, false, true},
        {ServiceLifecycleState::notResponding, "Not Responding", ThemeColor(Palette::Color::orange), true, false, false,
         true},
    };
    for (const Case &c : cases) {
        ServiceRuntimeInfo info = runtime(service, c.state, 321);
        info.cpuPercent = 12.34;
        info.memoryBytes = 3ULL * 1024 * 1024;
        show(service, info);
        SCOPED_TRACE(c.badge);
        auto *badge = find<StatusBadge>("statusBadge");
        EXPECT_EQ(badge->text(), QString::fromLatin1(c.badge));
        EXPECT_TRUE(badge->color() == c.color);
        EXPECT_EQ(find<QPushButton>("startButton")->isEnabled(), c.start);
        EXPECT_EQ(find<QPushButton>("stopButton")->isEnabled(), c.stop);
        EXPECT_TRUE(find<QPushButton>("restartButton")->isEnabled());
        EXPECT_EQ(find<QPushButton>("forceKillButton")->isEnabled(), c.forceKill);
        EXPECT_EQ(find<QPushButton>("editButton")->isEnabled(), c.edit);
        EXPECT_EQ(find<QPushButton>("editButton")->toolTip(),
                  c.edit ? QStringLiteral("Edit service") : QStringLiteral("Stop the service before editing it."));
        EXPECT_EQ(find<QWidget>("liveOutputProgress")->isVisibleTo(view.get()), !c.start);
        // The process id shows whatever the state; the other figures only while running.
        EXPECT_EQ(metric(*this, "pidCard"), QStringLiteral("321"));
        const bool running = c.state == ServiceLifecycleState::running;
        EXPECT_EQ(metric(*this, "cpuCard"), running ? QStringLiteral("12.3%") : dash);
        EXPECT_EQ(metric(*this, "uptimeCard"), running ? QStringLiteral("Unavailable") : dash);
        EXPECT_EQ(metric(*this, "ramCard").isEmpty(), false);
    }
    show(service, runtime(service, ServiceLifecycleState::stopped));
    EXPECT_EQ(metric(*this, "pidCard"), dash);
}

TEST_F(ServiceDetailViewTest, TabFollowsThePageFromTheTitleRowToTheHistory)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    history.insertRecord(makeRun(service.id, ServiceRunStopReason::exited, 0, 1));
    show(service, runtime(service, ServiceLifecycleState::running, {}, QStringLiteral("line\n").repeated(40)));
    // As wide as the narrowest main window (951 px) leaves it, about as high as an 800 × 600 screen.
    view->resize(740 - ServicesView::sidebarWidth - 1, 470);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    view->runHistorySection()->setExpanded(true);
    QCoreApplication::processEvents();
    QStringList visited;
    QWidget *window = view->window();
    for (QWidget *widget = window->nextInFocusChain(); widget != window; widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->objectName().isEmpty()
            && !visited.contains(widget->objectName()))
            visited << widget->objectName();
    }
    const QStringList visualOrder {QStringLiteral("editButton"),      QStringLiteral("stopButton"),
                                   QStringLiteral("forceKillButton"), QStringLiteral("configurationToggle"),
                                   QStringLiteral("copyButton"),      QStringLiteral("runHistoryToggle"),
                                   QStringLiteral("clearAllButton")};
    qsizetype last = -1;
    for (const QString &name : visualOrder) {
        const qsizetype at = visited.indexOf(name);
        EXPECT_GT(at, last) << name.toStdString() << " in " << visited.join(QLatin1Char(' ')).toStdString();
        last = at;
    }
    // Tab shows each stop whole, as much of it as fits, and never by shifting the page sideways.
    auto *page = find<QScrollArea>("detailScrollArea");
    auto *deleteRun = find<QWidget>("deleteButton", view->runHistorySection()->rows().constFirst());
    ASSERT_TRUE(waitUntil([&] { return animationsSettled(*view); })); // the history's reveal
    QList<QWidget *> reached {find<QWidget>("editButton")};
    reached.constFirst()->setFocus(Qt::TabFocusReason);
    while (reached.size() < 30 && reached.constLast() != deleteRun) {
        QTest::keyClick(reached.constLast(), Qt::Key_Tab);
        const QWidget *focused = reached.emplace_back(QApplication::focusWidget());
        const QRect shown =
            QRect(focused->mapTo(page->viewport(), QPoint()), focused->size()) & page->viewport()->rect();
        EXPECT_EQ(shown.size(), focused->size().boundedTo(page->viewport()->size())) << reached.size();
        EXPECT_EQ(page->horizontalScrollBar()->value(), 0);
    }
    // The output's stop and the frame around it say what they are.
    auto *output = view->findChild<ConsoleOutputView *>(QStringLiteral("liveOutput"));
    EXPECT_TRUE(reached.contains(output->textView()) && reached.contains(find<QWidget>("clearAllButton")));
    for (QWidget *part : {static_cast<QWidget *>(output), static_cast<QWidget *>(output->textView())})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(part)->text(QAccessible::Name), QStringLiteral("Live Output"));
}

TEST_F(ServiceDetailViewTest, ControlRowButtonsStandTenApartAtOneHeight)
{
    show(makeService(QStringLiteral("API")),
         runtime(makeService(QStringLiteral("API")), ServiceLifecycleState::stopped));
    view->resize(900, 700);
    view->show();
    QCoreApplication::processEvents();
    QWidget *previous = nullptr;
    for (const char *name : {"startButton", "stopButton", "restartButton", "forceKillButton"}) {
        auto *button = find<QPushButton>(name);
        if (previous) {
            EXPECT_EQ(button->geometry().left() - previous->geometry().right() - 1, 10) << name;
            EXPECT_EQ(button->geometry().top(), previous->geometry().top()) << name;
            EXPECT_EQ(button->height(), previous->height()) << name;
        }
        previous = button;
    }
}

TEST_F(ServiceDetailViewTest, ButtonsAskTheHostThroughSignals)
{
    QStringList calls;
    const QObject receiver; // ends the connections with the body: the view outlives it
    const auto record = [&](void (ServiceDetailView::*request)(), const char *name) {
        QObject::connect(view.get(), request, &receiver, [&calls, name] { calls << QString::fromLatin1(name); });
    };
    record(&ServiceDetailView::unlockRequested, "unlock");
    record(&ServiceDetailView::startRequested, "start");
    record(&ServiceDetailView::stopRequested, "stop");
    record(&ServiceDetailView::restartRequested, "restart");
    record(&ServiceDetailView::forceKillRequested, "kill");
    record(&ServiceDetailView::editRequested, "edit");
    const ManagedService service = makeService(QStringLiteral("API"));
    show(service, runtime(service, ServiceLifecycleState::running, 10));
    for (const char *name : {"stopButton", "restartButton", "forceKillButton"})
        QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton);
    show(service, runtime(service, ServiceLifecycleState::stopped));
    QTest::mouseClick(find<QPushButton>("startButton"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>("editButton"), Qt::LeftButton);
    view->setIsLaunchLocked(true);
    QTest::mouseClick(find<QPushButton>("unlockButton"), Qt::LeftButton);
    EXPECT_EQ(calls, QStringList({QStringLiteral("stop"), QStringLiteral("restart"), QStringLiteral("kill"),
                                  QStringLiteral("start"), QStringLiteral("edit"), QStringLiteral("unlock")}));
}

TEST_F(ServiceDetailViewTest, LockFlagsChooseLayoutHeaderAndConfiguration)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    show(service, runtime(service, ServiceLifecycleState::stopped));
    view->show();
    view->setFlags(false, true, true);
    EXPECT_TRUE(find<QWidget>("lockedLayout")->isVisible());
    EXPECT_FALSE(find<QWidget>("normalLayout")->isVisible());
    EXPECT_FALSE(find<QPushButton>("editButton")->isVisibleTo(view.get()));
    EXPECT_TRUE(find<QWidget>("protectedLabel")->isVisible());
    EXPECT_EQ(find<SymbolView>("protectedSymbol")->symbolName(), QStringLiteral("lock.fill"));

    view->setFlags(false, false, true);
    EXPECT_TRUE(find<QWidget>("normalLayout")->isVisible());
    EXPECT_TRUE(find<QPushButton>("editButton")->isVisible());
    EXPECT_EQ(find<SymbolView>("protectedSymbol")->symbolName(), QStringLiteral("lock.open.fill"));

    // Migration: only once the configuration is expanded, in place of its rows.
    int unlocks = 0;
    const QObject receiver; // ends the connection with the body: the view outlives it
    QObject::connect(view.get(), &ServiceDetailView::unlockRequested, &receiver, [&] { ++unlocks; });
    view->setFlags(true, false, false);
    EXPECT_FALSE(find<QWidget>("protectedLabel")->isVisible());
    EXPECT_FALSE(find<QWidget>("migrationCard")->isVisible());
    QTest::mouseClick(find<QPushButton>("configurationToggle"), Qt::LeftButton);
    EXPECT_TRUE(find<QWidget>("migrationCard")->isVisible());
    EXPECT_FALSE(find<QWidget>("configurationCard")->isVisible());
    ASSERT_TRUE(waitUntil([&] { return animationsSettled(*view); })); // the reveal
    QTest::mouseClick(find<QPushButton>("migrateButton"), Qt::LeftButton);
    EXPECT_EQ(unlocks, 1);
}

TEST_F(ServiceDetailViewTest, ConfigurationRowsAndTerminalServiceWithoutConsole)
{
    EnvironmentProfile profile {QUuid::createUuid(), QStringLiteral("Staging"), {}, false, start, start};
    profiles.applyLoadResult({profile}, {}, std::nullopt);
    ManagedService service = makeService(QStringLiteral("Tunnel"), QString(), true, profile.id);
    show(service, runtime(service, ServiceLifecycleState::stopped));
    view->show();
    // Both sections say whether they are open as a state, not only in words.
    const auto expanded = [this](const char *toggle) {
        const QAccessible::State state = QAccessible::queryAccessibleInterface(find<QPushButton>(toggle))->state();
        EXPECT_TRUE(state.expandable);
        EXPECT_NE(bool(state.expanded), bool(state.collapsed));
        return bool(state.expanded);
    };
    EXPECT_FALSE(expanded("configurationToggle"));
    EXPECT_FALSE(expanded("runHistoryToggle"));
    QTest::mouseClick(find<QPushButton>("configurationToggle"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>("runHistoryToggle"), Qt::LeftButton);
    EXPECT_TRUE(expanded("configurationToggle"));
    EXPECT_TRUE(expanded("runHistoryToggle"));
    EXPECT_EQ(find<WrappingText>("shellCommand")->text(), dash);
    EXPECT_EQ(find<WrappingText>("environmentProfile")->text(), QStringLiteral("Staging"));
    EXPECT_EQ(find<QLabel>("launchOption")->text(), QStringLiteral("Terminal"));
    EXPECT_FALSE(find<QWidget>("liveOutput")->isVisible());
    EXPECT_FALSE(find<QWidget>("liveOutputHeader")->isVisible());
    EXPECT_TRUE(find<QWidget>("metricGrid")->isVisible());
    EXPECT_TRUE(find<QWidget>("runHistory")->isVisible());

    // A profile id that matches no profile shows "None", as does no profile.
    service.environmentProfileId = QUuid::createUuid();
    service.openInTerminal = false;
    view->setService(service);
    EXPECT_EQ(find<WrappingText>("environmentProfile")->text(), QStringLiteral("None"));
    EXPECT_EQ(find<QLabel>("launchOption")->text(), QStringLiteral("Velmora"));
    EXPECT_TRUE(find<QWidget>("liveOutput")->isVisible());
}

TEST_F(ServiceDetailViewTest, UnbreakableTokensWrapAndNeverWidenTheView)
{
    const QString token = QStringLiteral("Authorization:Bearer_") + QString(110, QLatin1Char('x'));
    const struct {
        const char *what;
        QString name;
        QString command;
        QString profileName;
    } cases[] = {
        {"bearer token", QStringLiteral("api"), QStringLiteral("curl -H ") + token, QStringLiteral("Staging")},
        {"10,000 characters", QStringLiteral("api"), QString(10000, QLatin1Char('a')), QStringLiteral("Staging")},
        {"long names", QString(200, QLatin1Char('N')), QStringLiteral("npm run dev"), QString(200, QLatin1Char('P'))},
    };
    view->resize(760, 900);
    view->show();
    for (const auto &[what, name, command, profileName] : cases) {
        SCOPED_TRACE(what);
        EnvironmentProfile profile {QUuid::createUuid(), profileName, {}, false, start, start};
        profiles.applyLoadResult({profile}, {}, std::nullopt);
        const ManagedService service = makeService(name, command, false, profile.id);
        show(service, runtime(service, ServiceLifecycleState::stopped));
        QTest::mouseClick(find<QPushButton>("configurationToggle"), Qt::LeftButton);
        ASSERT_TRUE(view->isConfigurationExpanded());
        ASSERT_TRUE(waitUntil([&] { return animationsSettled(*view); })); // the card's reveal
        view->layout()->activate();
        EXPECT_LE(view->minimumSizeHint().width(), 740);
        EXPECT_EQ(view->width(), 760);
        EXPECT_EQ(find<WrappingText>("shellCommand")->text(), command); // shown and copied as it is
        const QWidget *card = find<QWidget>("configurationCard");
        EXPECT_LE(card->mapTo(view.get(), QPoint(card->width(), 0)).x(), 760);
    }
}

TEST_F(ServiceDetailViewTest, CopyIsDisabledWithoutOutputAndCopiesTheWholeOutput)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    show(service, runtime(service, ServiceLifecycleState::running, 10));
    auto *copy = find<QPushButton>("copyButton");
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_EQ(copy->toolTip(), QStringLiteral("No output to copy"));

    QString output;
    for (int line = 0; line < 2000; ++line)
        output += QStringLiteral("line %1 of the service's output\n").arg(line);
    view->setRuntime(runtime(service, ServiceLifecycleState::running, 10, output));
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_EQ(copy->toolTip(), QStringLiteral("Copy output"));
    QApplication::clipboard()->setText(QStringLiteral("earlier"));
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), output);
}

TEST_F(ServiceDetailViewTest, TheConsoleFollowsTheOutputsGenerationNotItsLength)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    show(service, runtime(service, ServiceLifecycleState::running, 10, QStringLiteral("first run\n")));
    auto *console = find<ConsoleOutputView>("liveOutput");
    EXPECT_EQ(console->text(), QStringLiteral("first run\n"));
    view->setRuntime(runtime(service, ServiceLifecycleState::stopped));
    EXPECT_TRUE(console->isShowingPlaceholder());
    // Each text as long as the one before it.
    for (const QString &text : {QStringLiteral("other run\n"), QStringLiteral("third run\n")}) {
        view->setRuntime(runtime(service, ServiceLifecycleState::running, 11, text));
        EXPECT_EQ(console->text(), text);
    }
}

TEST_F(ServiceDetailViewTest, RuntimeUpdatesKeepViewStateAndAnotherServiceResetsIt)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    for (int minute = 0; minute < 6; ++minute)
        history.insertRecord(makeRun(service.id, ServiceRunStopReason::stopped, std::nullopt, minute));
    show(service, runtime(service, ServiceLifecycleState::running, 10, QStringLiteral("first\nsecond\n")));
    view->resize(900, 500);
    view->show();
    QTest::mouseClick(find<QPushButton>("configurationToggle"), Qt::LeftButton);
    ServiceRunHistorySection *section = view->runHistorySection();
    section->setExpanded(true);
    const QList<ServiceRunHistoryRow *> rows = section->rows();
    section->toggleRun(rows.first()->record().id);
    ASSERT_TRUE(waitUntil([&] { return animationsSettled(*view); })); // the reveal
    QScrollBar *scroll = find<QScrollArea>("detailScrollArea")->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 200);
    auto *text = find<ConsoleOutputView>("liveOutput")->textView();
    QTextCursor selection = text->textCursor();
    selection.setPosition(0);
    selection.setPosition(5, QTextCursor::KeepAnchor);
    text->setTextCursor(selection);
    text->setFocus();
    scroll->setValue(200); // after the focus, which shows the whole console

    ServiceRuntimeInfo tick =
        runtime(service, ServiceLifecycleState::running, 10, QStringLiteral("first\nsecond\nthird\n"));
    tick.cpuPercent = 3;
    tick.uptime = 61;
    view->setRuntime(tick);
    QApplication::processEvents();
    EXPECT_TRUE(view->isConfigurationExpanded());
    EXPECT_TRUE(find<QWidget>("configurationCard")->isVisible());
    EXPECT_EQ(scroll->value(), 200);
    EXPECT_EQ(text->textCursor().selectedText(), QStringLiteral("first"));
    EXPECT_EQ(section->rows(), rows);
    EXPECT_TRUE(rows.first()->isExpanded());
    EXPECT_EQ(metric(*this, "uptimeCard"), QStringLiteral("1m 1s"));

    const ManagedService other = makeService(QStringLiteral("Worker"));
    show(other, runtime(other, ServiceLifecycleState::stopped));
    QApplication::processEvents();
    EXPECT_FALSE(view->isConfigurationExpanded());
    EXPECT_FALSE(find<QWidget>("configurationCard")->isVisible());
    EXPECT_FALSE(section->isExpanded());
    EXPECT_TRUE(section->expandedRunIDs().isEmpty());
    EXPECT_EQ(scroll->value(), 0);
}

TEST_F(ServiceDetailViewTest, NewRunMarkFollowsOnlyThisServicesLatestRun)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    show(service, runtime(service, ServiceLifecycleState::stopped));
    ServiceRunHistorySection *section = view->runHistorySection();
    auto *newRunBadge = find<QWidget>("newRunBadge");
    const ServiceRunRecord first = makeRun(service.id, ServiceRunStopReason::exited, 0, 1);
    history.insertRecord(first);
    EXPECT_EQ(section->newRunHistoryRecordID(), first.id);
    EXPECT_FALSE(newRunBadge->isHidden());
    EXPECT_FALSE(section->isExpanded());

    history.insertRecord(makeRun(QUuid::createUuid(), ServiceRunStopReason::exited, 0, 2));
    EXPECT_EQ(section->newRunHistoryRecordID(), first.id);

    section->setExpanded(true);
    const ServiceRunRecord second = makeRun(service.id, ServiceRunStopReason::securityBlocked, std::nullopt, 3);
    history.insertRecord(second);
    EXPECT_EQ(section->newRunHistoryRecordID(), second.id);
    ASSERT_EQ(section->rows().size(), 2);
    EXPECT_TRUE(section->rows().at(0)->isNew());
    EXPECT_FALSE(section->rows().at(1)->isNew());
    EXPECT_EQ(find<ServiceDetailStyle::CapsuleBadge>("countBadge")->text(), QStringLiteral("2"));

    // Leaving the screen ends the mark rather than leaving it for good.
    view->show();
    view->hide();
    EXPECT_FALSE(section->newRunHistoryRecordID().has_value());
    EXPECT_TRUE(newRunBadge->isHidden());
}

TEST_F(ServiceDetailViewTest, ClearAllAsksFirstAndDeleteKeepsOtherRowsExpanded)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    QList<ServiceRunRecord> runs;
    for (int minute = 0; minute < 3; ++minute) {
        runs.prepend(makeRun(service.id, ServiceRunStopReason::exited, minute, minute));
        history.insertRecord(runs.first());
    }
    show(service, runtime(service, ServiceLifecycleState::stopped));
    view->show();
    ServiceRunHistorySection *section = view->runHistorySection();
    auto *clearAll = find<QPushButton>("clearAllButton");
    EXPECT_FALSE(clearAll->isVisible());
    section->setExpanded(true);
    EXPECT_TRUE(clearAll->isVisible());
    for (const ServiceRunRecord &run : runs)
        section->toggleRun(run.id);

    QTest::mouseClick(find<QAbstractButton>("deleteButton", section->rows().at(1)), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return section->rows().size() == 2; }));
    EXPECT_TRUE(section->rows().at(0)->isExpanded());
    EXPECT_TRUE(section->rows().at(1)->isExpanded());
    EXPECT_EQ(section->rows().at(1)->record().id, runs.at(2).id);

    QTest::mouseClick(clearAll, Qt::LeftButton);
    QMessageBox *confirmation = section->clearConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->text(), QStringLiteral("Clear run history?"));
    EXPECT_EQ(confirmation->informativeText(),
              QStringLiteral("Deletes all recorded runs for this service. This cannot be undone."));
    for (QAbstractButton *button : confirmation->buttons()) {
        if (button->text() == QStringLiteral("Cancel"))
            button->click();
    }
    QApplication::processEvents();
    EXPECT_EQ(history.records(service.id).size(), 2);

    QTest::mouseClick(clearAll, Qt::LeftButton);
    for (QAbstractButton *button : section->clearConfirmation()->buttons()) {
        if (button->text() == QStringLiteral("Clear All"))
            button->click();
    }
    ASSERT_TRUE(waitUntil([&] { return history.records(service.id).isEmpty(); }));
    EXPECT_TRUE(find<QWidget>("emptyCard")->isVisible());
    EXPECT_TRUE(find<QWidget>("countBadge")->isHidden());
    EXPECT_FALSE(clearAll->isVisible());
}

TEST_F(ServiceDetailViewTest, RunRowShowsOutcomeSecurityFiguresAndMaskedVariables)
{
    ServiceRunRecord approved = makeRun(QUuid::createUuid(), ServiceRunStopReason::exited, 3);
    approved.pid.reset();
    approved.endedAt = approved.startedAt.addSecs(-5);
    const CommandThreatFinding finding {QStringLiteral("rule"), CommandThreatSeverity::high,
                                        QStringLiteral("Pipes a download into a shell"), QString(), QString()};
    approved.securityScan = ServiceRunSecurityScan {ServiceRunSecurityOutcome::approved, {finding}};
    approved.environment = {
        ServiceRunEnvironmentEntry::forVariable(QStringLiteral("API_TOKEN"), QStringLiteral("hunter2"), true),
        ServiceRunEnvironmentEntry::forVariable(QStringLiteral("PORT"), QStringLiteral("3000"), false)};
    ServiceRunHistoryRow row(approved);
    EXPECT_TRUE(find<StatusBadge>("outcomeBadge", &row)->color() == ThemeColor(Palette::Color::red));
    EXPECT_EQ(find<QLabel>("exitCode", &row)->text(), QStringLiteral("exit 3"));
    EXPECT_FALSE(find<QWidget>("securityBadge", &row)->isHidden());
    EXPECT_EQ(find<LabeledValueText>("PID", &row)->value(), dash);
    EXPECT_EQ(find<LabeledValueText>("Duration", &row)->value(), QStringLiteral("0s"));
    QStringList texts;
    for (QLabel *label : row.findChildren<QLabel *>())
        texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("1 warning")));

    row.setExpanded(true);
    EXPECT_EQ(find<QLabel>("verdict", &row)->text(), QStringLiteral("Warning bypassed"));
    EXPECT_EQ(find<QLabel>("profileLine", &row)->text(), QStringLiteral("Environment Profile \u00B7 None"));
    const QList<QLabel *> values = row.findChildren<QLabel *>(QStringLiteral("variableValue"));
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values.at(0)->text(), ServiceRunEnvironmentEntry::secretMask);
    EXPECT_EQ(row.findChildren<QWidget *>(QStringLiteral("secretLock")).size(), 1);
    for (QWidget *widget : row.findChildren<QWidget *>()) {
        EXPECT_FALSE(widget->toolTip().contains(QStringLiteral("hunter2")));
        EXPECT_FALSE(widget->accessibleName().contains(QStringLiteral("hunter2")));
    }

    approved.securityScan->findings.append(finding);
    row.setRecord(approved);
    texts.clear();
    for (QLabel *label : row.findChildren<QLabel *>())
        texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("2 warnings")));

    ServiceRunRecord blocked = makeRun(QUuid::createUuid(), ServiceRunStopReason::securityBlocked, std::nullopt);
    blocked.output.clear();
    blocked.securityScan = ServiceRunSecurityScan {ServiceRunSecurityOutcome::blocked, {finding}};
    ServiceRunHistoryRow blockedRow(blocked);
    EXPECT_EQ(find<StatusBadge>("outcomeBadge", &blockedRow)->text(), QStringLiteral("Blocked"));
    EXPECT_NE(lookup<QWidget>("launchPrevented", &blockedRow), nullptr);
    EXPECT_EQ(lookup<QWidget>("figures", &blockedRow), nullptr);
    EXPECT_TRUE(find<QLabel>("exitCode", &blockedRow)->isHidden());
    auto *outputButton = find<QAbstractButton>("outputButton", &blockedRow);
    EXPECT_FALSE(outputButton->isEnabled());
    EXPECT_EQ(outputButton->toolTip(), QStringLiteral("No output captured"));
}

TEST_F(ServiceDetailViewTest, OutputSheetShowsTheRunAndCopiesItsWholeOutput)
{
    const ManagedService service = makeService(QStringLiteral("API"));
    ServiceRunRecord run = makeRun(service.id, ServiceRunStopReason::unexpected, std::nullopt);
    run.output = QStringLiteral("boot\n").repeated(5000);
    history.insertRecord(run);
    show(service, runtime(service, ServiceLifecycleState::stopped));
    view->show();
    ServiceRunHistorySection *section = view->runHistorySection();
    section->setExpanded(true);
    QTest::mouseClick(find<QAbstractButton>("outputButton", section->rows().first()), Qt::LeftButton);
    ServiceRunOutputSheet *sheet = section->outputSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->size(), QSize(720, 500));
    EXPECT_TRUE(sheet->windowTitle().startsWith(QStringLiteral("Run Output \u2014 ")));
    EXPECT_TRUE(find<StatusBadge>("outcomeBadge", sheet)->color() == ThemeColor(Palette::Color::orange));
    EXPECT_TRUE(sheet->autoScroll());
    // A screen reader names the output as it names the live one.
    auto *console = find<ConsoleOutputView>("console", sheet);
    for (QWidget *part : {static_cast<QWidget *>(console), static_cast<QWidget *>(console->textView())})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(part)->text(QAccessible::Name), QStringLiteral("Run Output"));
    // Auto-scroll opens at the end, whether the output came with the sheet or
    // was read from the history file after it opened.
    const auto showsTheEnd = [this](ServiceRunOutputSheet &shown) {
        QScrollBar *bar = find<ConsoleOutputView>("console", &shown)->textView()->verticalScrollBar();
        return waitUntil([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); });
    };
    EXPECT_TRUE(showsTheEnd(*sheet));
    ServiceRunRecord late = run;
    late.output = ServiceRunOutput::inFile(false);
    ServiceRunOutputSheet lateSheet(late, view.get());
    lateSheet.open();
    lateSheet.setOutput(QStringLiteral("line of a long output\n").repeated(2700));
    EXPECT_TRUE(showsTheEnd(lateSheet));
    QAccessible::queryAccessibleInterface(lateSheet.findChild<QCheckBox *>())
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(find<ConsoleOutputView>("console", &lateSheet)->autoScroll());
    lateSheet.close();
    for (QPushButton *button : sheet->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("Copy"))
            button->click();
    }
    EXPECT_EQ(QApplication::clipboard()->text(), run.output);
    QTest::mouseClick(find<QPushButton>("closeButton", sheet), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return section->outputSheet() == nullptr; }));

    // An output that lies in a file which no longer holds it says so instead.
    ServiceRunRecord gone = makeRun(service.id, ServiceRunStopReason::exited, 0);
    gone.output = ServiceRunOutput::inFile(false);
    history.insertRecord(gone);
    section->viewOutput(gone.id);
    ASSERT_NE(section->outputSheet(), nullptr);
    auto *failure = find<QLabel>("readFailure", section->outputSheet());
    ASSERT_TRUE(waitUntil([&] { return failure->isVisible(); }));
    EXPECT_TRUE(failure->text().startsWith(QStringLiteral("The output couldn’t be read.")));
    EXPECT_FALSE(find<ConsoleOutputView>("console", section->outputSheet())->isVisible());
}

TEST(CapsuleBadgeTransition, OnScreenItFadesInAndOutAndOffScreenItJumps)
{
    QWidget host;
    auto *badge = new ServiceDetailStyle::CapsuleBadge(QStringLiteral("New run"), ThemeColor::secondary(), 7, &host);
    badge->setShown(false);
    EXPECT_TRUE(badge->isHidden()) << "off screen: at once";
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));

    badge->setShown(true);
    EXPECT_TRUE(badge->isVisible());
    badge->setShown(false);
    EXPECT_TRUE(badge->isVisible()) << "still fading out";
    EXPECT_TRUE(QTest::qWaitFor([&] { return badge->isHidden(); }, 10000));
    // Shown again before a fade-out ends: it stays.
    badge->setShown(true);
    badge->setShown(false);
    badge->setShown(true);
    ASSERT_TRUE(waitUntil([&] { return animationsSettled(host); }));
    EXPECT_TRUE(badge->isVisible());
}
