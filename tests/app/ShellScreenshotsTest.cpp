#include "AppFixture.h"

#include "app/AppDelegate.h"
#include "app/ApplicationAppearance.h"
#include "app/ContentView.h"
#include "app/LaunchSplashView.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "execution/ServiceManager.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "support/Screenshots.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

namespace {

// The test program has no compiled-in resources: the icon comes from the
// source tree, which the build folder's cache names.
void findIconInSources()
{
    QFile cache(QCoreApplication::applicationDirPath() + QStringLiteral("/../CMakeCache.txt"));
    if (!cache.open(QIODevice::ReadOnly))
        return;
    const QString prefix = QStringLiteral("CMAKE_HOME_DIRECTORY:INTERNAL=");
    for (const QString &line : QString::fromUtf8(cache.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            QDir::setSearchPaths(QStringLiteral("velmoraicons"),
                                 {line.mid(prefix.size()).trimmed() + QStringLiteral("/src/app/resources")});
    }
}

struct ShellScreenshots : AppFixture {
    void SetUp() override
    {
        if (Screenshots::directory().isEmpty())
            GTEST_SKIP() << "no screenshot run";
        findIconInSources();
    }
    void TearDown() override { applyApplicationAppearance(AppAppearanceMode::system); }
};

} // namespace

TEST_F(ShellScreenshots, SplashAndReadyWindow)
{
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        const QString suffix = mode == AppAppearanceMode::dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        writeFile(dataFile(QStringLiteral("settings.json")),
                  mode == AppAppearanceMode::dark ? R"({"appearanceMode":"dark"})" : R"({"appearanceMode":"light"})");
        {
            build();
            MenuBarController menuBar;
            AppDelegate delegate(*app, menuBar);
            MainWindow window(*app, delegate);
            window.show();
            // The logo and then the spinner fade in over the first 1.9 seconds.
            waitUntil([] { return false; }, 2000);
            EXPECT_NE(window.contentView()->splash(), nullptr);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/splash") + suffix));
        }
        {
            // Ready after a real start-up, with two services, one of them running.
            QFile::remove(dataFile(QStringLiteral("services.json")));
            QFile::remove(dataFile(QStringLiteral("run-history.json")));
            build();
            addService(QStringLiteral("api-server"), QStringLiteral("sleep 30"));
            const QUuid worker = addService(QStringLiteral("worker"), QStringLiteral("sleep 30")).id;
            await(app->bootstrap());
            app->setSettings({QStringLiteral("/bin/sh"), mode});
            await(app->serviceManager().start(worker));
            MenuBarController menuBar;
            AppDelegate delegate(*app, menuBar);
            MainWindow window(*app, delegate);
            window.show();
            await(app->completeLaunchSplashDelay());
            waitUntil([] { return false; }, 1200);
            EXPECT_EQ(window.contentView()->splash(), nullptr);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/ready") + suffix));
            app->showService(worker);
            waitUntil([] { return false; }, 600);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/services") + suffix));
            await(app->serviceManager().stopAll(true));
        }
    }
}

TEST_F(ShellScreenshots, LongTextsAtTheSmallestAndALargeWindow)
{
    const QString token = QStringLiteral("curl -H Authorization:Bearer_") + QString(110, QLatin1Char('x'))
                          + QStringLiteral(" https://example.com/api");
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        const QString suffix = mode == AppAppearanceMode::dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        QFile::remove(dataFile(QStringLiteral("services.json")));
        QFile::remove(dataFile(QStringLiteral("environments.json")));
        build();
        const QUuid tokenService = addService(QStringLiteral("bearer"), token).id;
        const QUuid longService = addService(QString(90, QLatin1Char('N')), QString(10000, QLatin1Char('a'))).id;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        await(app->environmentProfilesManager().saveProfile(
            {QUuid::createUuid(),
             QString(80, QLatin1Char('P')),
             {{QUuid::createUuid(), QStringLiteral("TOKEN"), QString(300, QLatin1Char('t')), false}},
             false,
             now,
             now}));
        await(app->bootstrap());
        app->setSettings({QStringLiteral("/bin/sh"), mode});
        MenuBarController menuBar;
        AppDelegate delegate(*app, menuBar);
        MainWindow window(*app, delegate);
        window.show();
        await(app->completeLaunchSplashDelay());
        waitUntil([] { return false; }, 600);

        for (const QSize size : {window.minimumSizeHint(), QSize(1600, 1000)}) {
            const QString where = size.width() == 1600 ? QStringLiteral("large") : QStringLiteral("minimum");
            window.resize(size);
            app->showService(tokenService);
            waitUntil([] { return false; }, 400);
            if (auto *toggle = window.findChild<QAbstractButton *>(QStringLiteral("configurationToggle")))
                toggle->click();
            waitUntil([] { return false; }, 600);
            EXPECT_LE(window.width(), size.width());
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/%1-services").arg(where) + suffix));
            app->showService(longService);
            waitUntil([] { return false; }, 600);
            EXPECT_LE(window.width(), size.width());
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/%1-services-long").arg(where) + suffix));
            app->setSelectedSection(AppSection::environmentProfiles);
            waitUntil([] { return false; }, 400);
            if (auto *list = window.findChild<QAbstractItemView *>()) {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualRect(list->model()->index(0, 0)).center());
            }
            waitUntil([] { return false; }, 600);
            EXPECT_LE(window.width(), size.width());
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/%1-profiles").arg(where) + suffix));
            app->setSelectedSection(AppSection::dashboard);
            waitUntil([] { return false; }, 600);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/%1-dashboard").arg(where) + suffix));
        }
    }
}
