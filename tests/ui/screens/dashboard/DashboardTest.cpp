#include "ui/components/MultilineElidedLabel.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/screens/dashboard/DashboardController.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/dashboard/MetricTile.h"
#include "ui/screens/dashboard/SummaryPopover.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ManagedService service(const QString &name, const QString &command = QStringLiteral("run"))
{
    return {QUuid::createUuid(), name, command, false, std::nullopt, {}, {}};
}

ServiceRuntimeInfo entry(const ManagedService &service, ServiceLifecycleState state, std::optional<qint32> pid = {})
{
    ServiceRuntimeInfo info = ServiceRuntimeInfo::fresh(service.id);
    info.state = state;
    info.pid = pid;
    return info;
}

QStringList names(const QList<ServiceSummaryRow> &rows)
{
    QStringList result;
    for (const auto &row : rows)
        result.append(row.name);
    return result;
}

struct DashboardTest : ::testing::Test {
    QList<QUuid> shown;
    DashboardController controller {nullptr, nullptr, [this](const QUuid &id) { shown.append(id); }};
    ManagedService web = service(QStringLiteral("web"), QStringLiteral("npm start"));
    ManagedService Api = service(QStringLiteral("Api"));
    ManagedService api = service(QStringLiteral("api"), QString());
    ManagedService worker = service(QStringLiteral("worker"), QStringLiteral("   "));
    ManagedService idle = service(QStringLiteral("idle"));

    void present()
    {
        DashboardController::Runtime runtime;
        runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
        runtime.insert(Api.id, entry(Api, ServiceLifecycleState::stopped));
        runtime.insert(worker.id, entry(worker, ServiceLifecycleState::notResponding, 7));
        // idle and api have no runtime entry.
        controller.presentServices({web, Api, api, worker, idle}, runtime);
    }
};

} // namespace

TEST_F(DashboardTest, CountsRunningEntriesAndTheRestAsStopped)
{
    present();
    EXPECT_EQ(controller.count(ServiceSummaryFilter::all), 5);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::running), 1);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::stopped), 4);
    // Running counts runtime entries, so a leftover entry can outnumber the services.
    DashboardController::Runtime runtime;
    const auto gone = service(QStringLiteral("gone"));
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running));
    runtime.insert(gone.id, entry(gone, ServiceLifecycleState::running));
    controller.presentServices({web}, runtime);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::running), 2);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::stopped), 0);
}

TEST_F(DashboardTest, RowsAreSortedFilteredAndFilledFromTheRuntime)
{
    present();
    const auto stopped = DashboardController::makeSummaryRows(ServiceSummaryFilter::stopped, controller.services(),
                                                              controller.runtime());
    EXPECT_EQ(names(stopped), (QStringList {QStringLiteral("Api"), QStringLiteral("api"), QStringLiteral("idle"),
                                            QStringLiteral("worker")}));
    EXPECT_EQ(stopped[1].detail, QStringLiteral("No shell command"));
    EXPECT_EQ(stopped[1].state, ServiceLifecycleState::stopped);
    EXPECT_FALSE(stopped[1].pid);
    EXPECT_EQ(stopped[3].detail, QStringLiteral("   "));
    EXPECT_EQ(stopped[3].state, ServiceLifecycleState::notResponding);
    EXPECT_EQ(DashboardController::badgeText(stopped[3].state), QStringLiteral("Not Responding"));
    const auto running = DashboardController::makeSummaryRows(ServiceSummaryFilter::running, controller.services(),
                                                              controller.runtime());
    ASSERT_EQ(names(running), QStringList {QStringLiteral("web")});
    EXPECT_EQ(running[0].pid, 42);
    EXPECT_TRUE(DashboardController::makeSummaryRows(ServiceSummaryFilter::all, {}, {}).isEmpty());
}

TEST(DashboardFigures, PercentTextsAndGauge)
{
    EXPECT_EQ(DashboardController::memoryPercent(SystemMetrics::make(10, 5, 0, std::nullopt)), 0);
    EXPECT_EQ(DashboardController::percentText(0), QStringLiteral("0.0%"));
    EXPECT_EQ(DashboardController::percentText(150.04), QStringLiteral("150.0%"));
    EXPECT_EQ(DashboardController::memoryPercent(SystemMetrics::make(0, 512, 2048, std::nullopt)), 25);
    const QList<std::pair<double, double>> gauge {{-5, 0}, {0, 0}, {42, 0.42}, {100, 1}, {250, 1}};
    for (const auto &[percent, value] : gauge)
        EXPECT_DOUBLE_EQ(DashboardController::gaugeValue(percent), value) << percent;
}

TEST_F(DashboardTest, PopoverOpensTogglesMovesAndIgnoresALateDismissal)
{
    present();
    controller.toggleSummary(ServiceSummaryFilter::running);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::running);
    EXPECT_EQ(controller.summaryListHeight(), 78);
    controller.toggleSummary(ServiceSummaryFilter::all);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::all);
    EXPECT_EQ(controller.summaryRows().size(), 5);
    // The dismissal of the popover that was moved away arrives late.
    controller.setSummaryPresented(ServiceSummaryFilter::running, false);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::all);
    // Rows are a snapshot of the moment the popover opened.
    controller.presentServices({web}, {});
    EXPECT_EQ(controller.summaryRows().size(), 5);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::all), 1);
    controller.reportSummaryListHeight(390.4);
    EXPECT_EQ(controller.summaryListHeight(), 390);
    controller.reportSummaryListHeight(402);
    EXPECT_EQ(controller.summaryListHeight(), 402);
    controller.toggleSummary(ServiceSummaryFilter::all);
    EXPECT_FALSE(controller.openServiceSummary());
    EXPECT_TRUE(controller.summaryRows().isEmpty());
    EXPECT_EQ(controller.summaryListHeight(), 0);
}

TEST_F(DashboardTest, ViewShowsGpuOnlyWithAReadingAndRowsOpenTheService)
{
    DashboardView view(nullptr, nullptr, [this](const QUuid &id) { shown.append(id); });
    view.resize(900, 600);
    view.show();
    view.controller().presentSystemMetrics(SystemMetrics::make(12.34, 0, 0, std::nullopt));
    EXPECT_FALSE(view.tile(QStringLiteral("GPU"))->isVisible());
    EXPECT_EQ(view.tile(QStringLiteral("Memory"))->valueText(), QStringLiteral("0.0%"));
    EXPECT_EQ(view.tile(QStringLiteral("CPU"))->valueText(), QStringLiteral("12.3%"));
    view.controller().presentSystemMetrics(SystemMetrics::make(12.34, 0, 0, 55.0));
    EXPECT_TRUE(view.tile(QStringLiteral("GPU"))->isVisible());

    DashboardController::Runtime runtime;
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
    view.controller().presentServices({web, idle}, runtime);
    ServiceStatusActionCard *running = view.card(ServiceSummaryFilter::running);
    ServiceStatusActionCard *stopped = view.card(ServiceSummaryFilter::stopped);
    ASSERT_TRUE(running && stopped);
    EXPECT_EQ(running->count(), 1);
    EXPECT_EQ(stopped->count(), 1);
    QTest::mouseClick(running, Qt::LeftButton);
    ASSERT_NE(view.popover(), nullptr);
    EXPECT_TRUE(running->isHighlighted());
    const auto rows = view.popover()->findChildren<QAbstractButton *>(QStringLiteral("summaryRow"));
    ASSERT_EQ(rows.size(), 1);
    rows.first()->click();
    EXPECT_EQ(shown, QList<QUuid> {web.id});
    EXPECT_FALSE(view.controller().openServiceSummary());
    EXPECT_FALSE(running->isHighlighted());
}

TEST_F(DashboardTest, ThePopoverHangsUnderItsCardForAssistiveTechnologiesAndReturnOpensARow)
{
    DashboardView view(nullptr, nullptr, [this](const QUuid &id) { shown.append(id); });
    view.resize(900, 600);
    view.show();
    DashboardController::Runtime runtime;
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
    ManagedService split = service(QStringLiteral("web\u2028api"));
    runtime.insert(split.id, entry(split, ServiceLifecycleState::running, 43));
    view.controller().presentServices({web, split}, runtime);
    ServiceStatusActionCard *running = view.card(ServiceSummaryFilter::running);
    QAccessibleInterface *card = QAccessible::queryAccessibleInterface(running);
    // The card's press action, as the AT-SPI bridge calls it, opens the popover.
    card->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_NE(view.popover(), nullptr);
    QAccessibleInterface *popover = QAccessible::queryAccessibleInterface(view.popover());
    ASSERT_EQ(popover->parent(), card);
    EXPECT_EQ(card->child(card->indexOfChild(popover)), popover);

    // Rows read and show a name on one line.
    const auto rows = view.popover()->findChildren<QAbstractButton *>(QStringLiteral("summaryRow"));
    ASSERT_EQ(rows.size(), 2);
    QStringList names;
    for (QAbstractButton *row : rows)
        names << row->accessibleName();
    EXPECT_TRUE(names.contains(QStringLiteral("web api")));
    rows.first()->setFocus();
    QTest::keyClick(rows.first(), Qt::Key_Return);
    EXPECT_EQ(shown.size(), 1);
}

TEST(SummaryPopoverPlacement, UnderItsCardInsideTheWindowAndTheScreen)
{
    const QSize popover(360, 200);
    const QRect screen(0, 0, 1600, 1000);
    struct Case {
        const char *what;
        QRect card;
        QRect window;
        std::optional<QRect> available;
        QPoint expected;
    };
    const QList<Case> cases {
        {"centred under a card in the middle", {400, 100, 200, 60}, {0, 0, 1200, 800}, screen, {320, 166}},
        {"flush with a card at the window's left", {528, 100, 200, 60}, {500, 0, 700, 800}, screen, {528, 166}},
        {"flush with a card at the window's right", {1000, 100, 200, 60}, {500, 0, 710, 800}, screen, {840, 166}},
        {"on the screen when the window leaves it", {1420, 100, 150, 60}, {1400, 0, 400, 800}, screen, {1240, 166}},
        {"a window narrower than the popover", {110, 100, 250, 60}, {100, 0, 300, 800}, screen, {110, 166}},
        {"kept on the screen", {0, 100, 100, 60}, {-200, 0, 300, 800}, screen, {0, 166}},
        {"above the card when the screen has no room below",
         {400, 900, 200, 60},
         {0, 0, 1200, 1000},
         screen,
         {320, 694}},
        {"no room below or above: as low as the screen allows",
         {400, 150, 200, 60},
         {0, 0, 1200, 300},
         QRect(0, 0, 1600, 300),
         {320, 100}},
        {"no screen", {400, 100, 200, 60}, {0, 0, 1200, 800}, std::nullopt, {320, 166}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SummaryPopover::placement(c.card, popover, c.window, c.available), c.expected);
    }
}

TEST(SummaryPopoverDetail, WrapsOntoTwoLinesAndCutsTheMiddleBeyond)
{
    QFont font;
    font.setPixelSize(12);
    const QString shortText = QStringLiteral("npm start");
    const QString twoLines = QStringLiteral("python worker.py --queue default");
    const int width = QFontMetrics(font).horizontalAdvance(twoLines) * 3 / 4;
    const QString long_ = QStringLiteral("rsync -a /srv/data/first/ archive:/volumes/nightly/first/ --exclude tmp");
    const QString unbroken = QString(200, QLatin1Char('x')) + QStringLiteral("END");
    // A script's newlines break its lines when drawn, however wide the row.
    const QString script = QStringLiteral("cd /srv/app\nnpm ci\nnpm start");
    EXPECT_EQ(MultilineElidedLabel::fittedText(shortText, font, width, 2), shortText);
    EXPECT_EQ(MultilineElidedLabel::lineCount(twoLines, font, width), 2);
    EXPECT_EQ(MultilineElidedLabel::fittedText(twoLines, font, width, 2), twoLines);
    EXPECT_EQ(MultilineElidedLabel::lineCount(script, font, 10 * width), 3);
    EXPECT_EQ(MultilineElidedLabel::fittedText(script, font, 10 * width, 2).count(QStringLiteral("\u2026")), 1);
    for (const QString &text : {long_, unbroken}) {
        SCOPED_TRACE(text.toStdString());
        const QString fitted = MultilineElidedLabel::fittedText(text, font, width, 2);
        EXPECT_EQ(MultilineElidedLabel::lineCount(fitted, font, width), 2);
        EXPECT_EQ(fitted.count(QStringLiteral("\u2026")), 1);
        EXPECT_EQ(fitted.front(), text.front());
        EXPECT_EQ(fitted.back(), text.back());
        EXPECT_GT(fitted.size(), twoLines.size());
    }

    // The row grows to show both lines.
    SummaryPopover popover(
        ServiceSummaryFilter::all,
        {{QUuid::createUuid(), QStringLiteral("backup"), long_ + long_, ServiceLifecycleState::stopped, std::nullopt}},
        nullptr);
    popover.show();
    QCoreApplication::processEvents();
    const auto *detail = popover.findChild<QLabel *>(QStringLiteral("rowDetail"));
    ASSERT_NE(detail, nullptr);
    EXPECT_GE(detail->height(), 2 * detail->fontMetrics().lineSpacing());
}

TEST_F(DashboardTest, AGaugeRepaintsOnlyForWhatItDrawsAndAHiddenViewCatchesUpWhenShown)
{
    DashboardView view(nullptr, nullptr, [](const QUuid &) {});
    view.resize(900, 600);
    view.show();
    view.controller().presentSystemMetrics(SystemMetrics::make(12.34, 0, 0, std::nullopt));
    MetricTile *cpu = view.tile(QStringLiteral("CPU"));
    QWidget *gauge = nullptr;
    for (QWidget *child : cpu->findChildren<QWidget *>()) {
        if (child->minimumSize() == QSize(64, 64) && child->maximumSize() == QSize(64, 64))
            gauge = child;
    }
    ASSERT_NE(gauge, nullptr);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    gauge->installEventFilter(&counter);
    QTest::qWait(50);

    const struct {
        double cpuPercent;
        bool repaints;
    } steps[] = {{12.3400001, false}, {12.341, false}, {50.0, true}};
    for (const auto &[cpuPercent, repaints] : steps) {
        SCOPED_TRACE(cpuPercent);
        counter.paints = 0;
        view.controller().presentSystemMetrics(SystemMetrics::make(cpuPercent, 0, 0, std::nullopt));
        QTest::qWait(50);
        EXPECT_EQ(counter.paints > 0, repaints);
    }

    view.hide();
    view.controller().presentSystemMetrics(SystemMetrics::make(77.7, 0, 0, std::nullopt));
    DashboardController::Runtime runtime;
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
    view.controller().presentServices({web, idle}, runtime);
    EXPECT_EQ(cpu->valueText(), QStringLiteral("50.0%"));
    EXPECT_EQ(view.card(ServiceSummaryFilter::all)->count(), 0);
    view.show();
    EXPECT_EQ(cpu->valueText(), QStringLiteral("77.7%"));
    EXPECT_EQ(view.card(ServiceSummaryFilter::all)->count(), 2);
    EXPECT_EQ(view.card(ServiceSummaryFilter::running)->count(), 1);
}
