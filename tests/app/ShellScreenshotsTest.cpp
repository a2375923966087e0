#include "AppFixture.h"

#include "app/AppDelegate.h"
#include "app/ApplicationAppearance.h"
#include "app/ContentView.h"
#include "app/LaunchSplashView.h"
#include "app/MainWindow.h"
#include "support/Screenshots.h"

#include <QApplication>

namespace {

// The test program has no compiled-in resources: the icon comes from the sources.
void findIconInSources()
{
    QDir::setSearchPaths(QStringLiteral("velmora-icons"),
                         {QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../../src/app/resources")});
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
            AppDelegate delegate(*app);
            MainWindow window(*app, delegate);
            window.show();
            // The logo and then the spinner fade in over the first 1.9 seconds.
            waitUntil([] { return false; }, 2000);
            EXPECT_NE(window.contentView()->splash(), nullptr);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/splash") + suffix));
        }
        {
            build(true);
            app->setSettings({QStringLiteral("/bin/sh"), mode});
            AppDelegate delegate(*app);
            MainWindow window(*app, delegate);
            window.show();
            waitUntil([] { return false; }, 300);
            EXPECT_TRUE(Screenshots::save(window, QStringLiteral("shell/ready") + suffix));
        }
    }
}
