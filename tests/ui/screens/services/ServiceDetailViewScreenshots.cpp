#include "ServiceDetailViewFixture.h"

#include "support/Screenshots.h"
#include "ui/components/ThemeManager.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTest>

namespace {

QString sampleOutput()
{
    QString output;
    for (int line = 1; line <= 40; ++line)
        output +=
            QStringLiteral("[web] %1 GET /api/items/%2 200 in %3 ms\n").arg(line, 3).arg(line * 7).arg(line % 9 + 2);
    return output;
}

struct ServiceDetailViewScreenshots : ServiceDetailViewTest {
    void SetUp() override
    {
        if (Screenshots::directory().isEmpty())
            GTEST_SKIP() << "screenshots are taken by scripts/screenshots.sh";
    }

    void settle()
    {
        // Long enough for the sections to finish unfolding.
        QTest::qWait(ServiceDetailStyle::revealDurationMs + 150);
        QApplication::processEvents();
    }

    void takeInBothThemes(QWidget &widget, const QString &name)
    {
        for (const auto mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
            ThemeManager::instance().apply(mode);
            settle();
            const QString suffix =
                mode == AppAppearanceMode::light ? QStringLiteral("-light") : QStringLiteral("-dark");
            EXPECT_TRUE(Screenshots::save(widget, QStringLiteral("services/") + name + suffix));
        }
    }

    QList<ServiceRunRecord> seedHistory(const QUuid &serviceId)
    {
        const CommandThreatFinding download {QStringLiteral("remote-script"), CommandThreatSeverity::high,
                                             QStringLiteral("Runs a script downloaded from the network"), QString(),
                                             QString()};
        const CommandThreatFinding sudo {QStringLiteral("sudo"), CommandThreatSeverity::medium,
                                         QStringLiteral("Runs with administrator rights"), QString(), QString()};
        QList<ServiceRunRecord> runs;
        ServiceRunRecord exited = makeRun(serviceId, ServiceRunStopReason::exited, 0, 0);
        exited.securityScan = ServiceRunSecurityScan {ServiceRunSecurityOutcome::noFindings, {}};
        runs << exited;
        ServiceRunRecord failed = makeRun(serviceId, ServiceRunStopReason::exited, 3, 30);
        failed.environmentProfileName = QStringLiteral("Staging");
        failed.output = sampleOutput() + QStringLiteral("Error: connection refused (db:5432)\n");
        failed.securityScan = ServiceRunSecurityScan {ServiceRunSecurityOutcome::approved, {download, sudo}};
        failed.environment = {
            ServiceRunEnvironmentEntry::forVariable(QStringLiteral("DATABASE_URL"), QStringLiteral("postgres://db/app"),
                                                    false),
            ServiceRunEnvironmentEntry::forVariable(QStringLiteral("API_TOKEN"), QStringLiteral("not-shown"), true),
        };
        runs << failed;
        runs << makeRun(serviceId, ServiceRunStopReason::stopped, std::nullopt, 60);
        runs << makeRun(serviceId, ServiceRunStopReason::forceKilled, 137, 90);
        runs << makeRun(serviceId, ServiceRunStopReason::unexpected, std::nullopt, 120);
        ServiceRunRecord blocked = makeRun(serviceId, ServiceRunStopReason::securityBlocked, std::nullopt, 150);
        blocked.pid.reset();
        blocked.output.clear();
        blocked.securityScan = ServiceRunSecurityScan {
            ServiceRunSecurityOutcome::blocked,
            {CommandThreatFinding {QStringLiteral("wipe"), CommandThreatSeverity::critical,
                                   QStringLiteral("Deletes the root folder"), QString(), QString()}}};
        runs << blocked;
        for (const ServiceRunRecord &run : runs)
            history.insertRecord(run);
        return runs;
    }
};

} // namespace

TEST_F(ServiceDetailViewScreenshots, DetailLayouts)
{
    EnvironmentProfile profile {QUuid::createUuid(), QStringLiteral("Staging"), {}, true, start, start};
    profiles.applyLoadResult({profile}, {}, std::nullopt);
    const ManagedService service =
        makeService(QStringLiteral("Web API"), QStringLiteral("npm run dev -- --port 3000"), false, profile.id);
    view->resize(980, 1080);
    view->setFlags(false, false, true);
    ServiceRuntimeInfo info = runtime(service, ServiceLifecycleState::running, 48213, sampleOutput());
    info.cpuPercent = 12.34;
    info.memoryBytes = 182ULL * 1024 * 1024;
    info.uptime = 3725;
    show(service, info);
    view->show();
    QTest::mouseClick(find<QPushButton>("configurationToggle"), Qt::LeftButton);
    takeInBothThemes(*view, QStringLiteral("detail-running"));

    const QList<ServiceRunRecord> runs = seedHistory(service.id);
    show(service, runtime(service, ServiceLifecycleState::stopped));
    ServiceRunHistorySection *section = view->runHistorySection();
    section->setExpanded(true);
    section->toggleRun(runs.at(1).id);
    section->toggleRun(runs.last().id);
    view->resize(980, 1900);
    settle();
    takeInBothThemes(*view, QStringLiteral("detail-history"));

    section->viewOutput(runs.at(1).id);
    ServiceRunOutputSheet *sheet = section->outputSheet();
    ASSERT_NE(sheet, nullptr);
    settle();
    takeInBothThemes(*sheet, QStringLiteral("run-output-sheet"));
    sheet->close();

    view->resize(980, 700);
    view->setFlags(false, true, true);
    takeInBothThemes(*view, QStringLiteral("detail-locked"));
}
