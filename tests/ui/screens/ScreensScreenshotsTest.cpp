#include "profiles/ProfilesFixture.h"

#include "records/SettingsRepository.h"
#include "support/Screenshots.h"
#include "ui/components/ThemeManager.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/dashboard/SummaryPopover.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/settings/SettingsView.h"

#include <QLabel>
#include <QPainter>
#include <QTest>

namespace {

const QList<std::pair<AppAppearanceMode, QString>> modes {{AppAppearanceMode::light, QStringLiteral("-light")},
                                                          {AppAppearanceMode::dark, QStringLiteral("-dark")}};

void settle(int ms = 250)
{
    waitUntil([] { return false; }, ms);
}

// A window with its popup drawn over it where it stands on the screen, on a
// canvas grown to show the whole popup.
bool saveWithPopup(QWidget &window, QWidget &popup, const QString &name)
{
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    const QRect popupRect(popup.mapToGlobal(QPoint(0, 0)) - origin, popup.size());
    const QRect canvas = QRect(QPoint(0, 0), window.size()).united(popupRect);
    const qreal ratio = window.devicePixelRatioF();
    QPixmap picture(canvas.size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(window.palette().color(QPalette::Window).darker(110));
    QPainter painter(&picture);
    painter.drawPixmap(-canvas.topLeft(), window.grab());
    painter.drawPixmap(popupRect.topLeft() - canvas.topLeft(), popup.grab());
    painter.end();
    QLabel label;
    label.setPixmap(picture);
    label.resize(canvas.size());
    return Screenshots::save(label, name);
}

struct ProfilesScreenScreenshots : ProfilesFixture {
    void SetUp() override
    {
        if (Screenshots::directory().isEmpty())
            GTEST_SKIP() << "no screenshot run";
    }
    void TearDown() override { ThemeManager::instance().apply(AppAppearanceMode::system); }
};

ManagedService service(const QString &name, const QString &command)
{
    return {QUuid::createUuid(), name, command, false, std::nullopt, {}, {}};
}

} // namespace

TEST_F(ProfilesScreenScreenshots, ListDetailAndEditor)
{
    stored(QStringLiteral("Development"),
           {variable(QStringLiteral("NODE_ENV"), QStringLiteral("development")),
            variable(QStringLiteral("DATABASE_URL"), QStringLiteral("postgres://localhost:5432/app")),
            variable(QStringLiteral("API_TOKEN"), QStringLiteral("not-shown"), true)});
    stored(QStringLiteral("Production"), {variable(QStringLiteral("STRIPE_KEY"), QStringLiteral("sk_live"), true)},
           true);
    const auto staging = stored(QStringLiteral("Staging"),
                                {variable(QStringLiteral("REGION"), QStringLiteral("eu-west-1")),
                                 variable(QStringLiteral("SESSION_SECRET"), QStringLiteral("hidden"), true)},
                                true);
    const auto production = *std::find_if(manager.profiles().begin(), manager.profiles().end(),
                                          [](const auto &p) { return p.name == QStringLiteral("Production"); });

    for (const auto &[mode, suffix] : modes) {
        ThemeManager::instance().apply(mode);
        authenticator->failure.reset();
        lockManager.lock();
        await(manager.unlockProfile(staging.id, ProtectedUnlockReason::viewProfile(staging.name)));
        EnvironmentProfilesView view(&manager, &lockManager, nullptr, staging.id);
        view.resize(1000, 640);
        view.show();
        settle();
        EXPECT_TRUE(Screenshots::save(view, QStringLiteral("profiles/list") + suffix));

        view.controller().editProfile(*manager.profile(staging.id));
        ASSERT_TRUE(waitUntil([&] { return view.editor() != nullptr; }));
        settle();
        EXPECT_TRUE(Screenshots::save(*view.editor(), QStringLiteral("profiles/editor") + suffix));
        view.editor()->reject();
        settle(50);

        // Locked again, and the prompt for Production is cancelled.
        authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
        lockManager.lock();
        view.controller().tapRow(production.id);
        settle();
        EXPECT_TRUE(Screenshots::save(view, QStringLiteral("profiles/locked-detail") + suffix));
    }
}

TEST(DashboardScreenshots, RunningServicesWithThePopoverOpen)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "no screenshot run";
    const QList<ManagedService> services {
        service(QStringLiteral("API Server"), QStringLiteral("npm run start")),
        service(QStringLiteral("Worker"), QStringLiteral("python worker.py --queue default")),
        service(QStringLiteral("Database"), QStringLiteral("postgres -D /var/lib/pg")),
        service(QStringLiteral("Docs"), QString()),
        service(QStringLiteral("Backup"),
                QStringLiteral("rsync -a --delete /srv/data/projects/current/ backup@archive.internal:/volumes/"
                               "nightly/projects/current/ --exclude node_modules"))};
    DashboardController::Runtime runtime;
    for (int index = 0; index < 2; ++index) {
        ServiceRuntimeInfo info = ServiceRuntimeInfo::fresh(services[index].id);
        info.state = ServiceLifecycleState::running;
        info.pid = 4100 + index;
        runtime.insert(info.serviceId, info);
    }
    ServiceRuntimeInfo hung = ServiceRuntimeInfo::fresh(services[2].id);
    hung.state = ServiceLifecycleState::notResponding;
    runtime.insert(hung.serviceId, hung);

    for (const auto &[mode, suffix] : modes) {
        ThemeManager::instance().apply(mode);
        DashboardView view(nullptr, nullptr, [](const QUuid &) {});
        view.controller().presentServices(services, runtime);
        view.controller().presentSystemMetrics(SystemMetrics::make(23.4, 9'100'000'000ULL, 16'000'000'000ULL, 12.0));
        view.resize(900, 560);
        view.show();
        settle();
        EXPECT_TRUE(Screenshots::save(view, QStringLiteral("dashboard/main") + suffix));
        view.controller().toggleSummary(ServiceSummaryFilter::all);
        settle();
        ASSERT_NE(view.popover(), nullptr);
        EXPECT_TRUE(saveWithPopup(view, *view.popover(), QStringLiteral("dashboard/popover") + suffix));
        view.controller().closeSummary();
        // A narrow window: the last card's popover stays inside it.
        view.resize(620, 560);
        settle();
        view.controller().toggleSummary(ServiceSummaryFilter::stopped);
        settle();
        ASSERT_NE(view.popover(), nullptr);
        EXPECT_TRUE(saveWithPopup(view, *view.popover(), QStringLiteral("dashboard/popover-narrow") + suffix));
        view.controller().closeSummary();
    }
    ThemeManager::instance().apply(AppAppearanceMode::system);
}

TEST(SettingsScreenshots, Window)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "no screenshot run";
    SettingsRepository repository(applicationSupportDirectory() + QStringLiteral("/settings.json"));
    for (const auto &[mode, suffix] : modes) {
        ThemeManager::instance().apply(mode);
        AppSettings current {QStringLiteral("/bin/bash"), mode};
        SettingsView view(
            &repository, [&current] { return current; },
            [&current](const AppSettings &settings) { current = settings; });
        view.setApplicationReady(true);
        view.resize(560, 640);
        view.show();
        settle();
        EXPECT_TRUE(Screenshots::save(view, QStringLiteral("settings/window") + suffix));
    }
    ThemeManager::instance().apply(AppAppearanceMode::system);
}
