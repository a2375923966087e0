#include "../ScreenReader.h"
#include "../services/ButtonLookup.h"

#include "records/ApplicationSupport.h"
#include "records/SettingsRepository.h"
#include "support/Await.h"
#include "ui/components/MacTextField.h"
#include "ui/screens/settings/SettingsController.h"
#include "ui/screens/settings/SettingsView.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A shell the person typed; no account has it as its login shell, so it is
// never the default.
const QString chosenShell = QStringLiteral("/usr/local/bin/chosen-shell");

struct SettingsTest : ::testing::Test {
    QString folder = applicationSupportDirectory();
    QString path = folder + QStringLiteral("/settings.json");
    SettingsRepository repository {path};
    AppSettings current;
    std::function<AppSettings()> currentSettings = [this] { return current; };
    std::function<void(const AppSettings &)> apply = [this](const AppSettings &settings) { current = settings; };
    SettingsController controller {repository, currentSettings, apply};

    AppSettings stored() { return await(repository.load()); }
    bool settled()
    {
        return waitUntil([&] { return controller.saveMessage() || controller.errorMessage(); });
    }
    void seedShell(const QString &shell)
    {
        current.defaultShell = shell;
        controller.reseed();
    }
    template <typename Widget>
    Widget *child(SettingsView &view, const char *name)
    {
        return view.findChild<Widget *>(QLatin1String(name));
    }
};

} // namespace

TEST_F(SettingsTest, AnEmptyShellSavesTheDefaultAndBlanksAreKept)
{
    seedShell(chosenShell);
    controller.setDraftShell(QString());
    ASSERT_TRUE(controller.hasUnsavedChanges());
    controller.saveSettings();
    ASSERT_TRUE(settled());
    EXPECT_EQ(controller.saveMessage(), QStringLiteral("Settings saved."));
    EXPECT_EQ(controller.draft().defaultShell, AppSettings::defaultShellPath());
    EXPECT_EQ(stored().defaultShell, AppSettings::defaultShellPath());
    EXPECT_FALSE(controller.hasUnsavedChanges());

    controller.clearSaveMessage();
    controller.setDraftShell(QStringLiteral(" /bin/sh "));
    controller.saveSettings();
    ASSERT_TRUE(settled());
    EXPECT_EQ(stored().defaultShell, QStringLiteral(" /bin/sh "));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray json = file.readAll();
    // Sorted keys; the slashes are written plainly, the same JSON as escaped ones.
    EXPECT_LT(json.indexOf("\"appearanceMode\""), json.indexOf("\"defaultShell\""));
    EXPECT_TRUE(json.contains("\" /bin/sh \""));
}

TEST_F(SettingsTest, DarkModeWritesTheStoredShellAndKeepsTheTypedOne)
{
    seedShell(chosenShell);
    controller.setDraftShell(QStringLiteral("/usr/bin/fish"));
    controller.setAppearanceMode(AppAppearanceMode::dark);
    EXPECT_EQ(controller.draft().appearanceMode, AppAppearanceMode::dark);
    ASSERT_TRUE(waitUntil([&] { return stored().appearanceMode == AppAppearanceMode::dark; }));
    EXPECT_EQ(stored().defaultShell, chosenShell);
    EXPECT_EQ(current.appearanceMode, AppAppearanceMode::dark);
    EXPECT_EQ(controller.draft().defaultShell, QStringLiteral("/usr/bin/fish"));
    EXPECT_TRUE(controller.hasUnsavedChanges());
    EXPECT_FALSE(controller.saveMessage());
}

TEST_F(SettingsTest, DarkModesToggleActionCommitsTheModeAndARefreshWritesNothing)
{
    SettingsView view(&repository, currentSettings, apply);
    view.show();
    view.setApplicationReady(true);
    auto *dark = child<QCheckBox>(view, "darkModeToggle");
    // The call the AT-SPI bridge makes for the check box's Toggle action.
    QAccessible::queryAccessibleInterface(dark)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(waitUntil([&] { return stored().appearanceMode == AppAppearanceMode::dark; }));
    EXPECT_TRUE(dark->isChecked());

    // Showing the mode again (a new draft, a theme change) is no new choice.
    ASSERT_TRUE(QFile::remove(path));
    view.controller().setDraftShell(QStringLiteral("/bin/unsaved"));
    view.controller().reseed();
    QTest::qWait(50);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(dark->isChecked());
}

TEST_F(SettingsTest, ResetAvailabilityFollowsTheDraftNotTheStoredSettings)
{
    seedShell(chosenShell);
    EXPECT_FALSE(controller.isDraftAtDefaults());
    controller.setDraftShell(AppSettings::defaultShellPath());
    EXPECT_TRUE(controller.isDraftAtDefaults());
    controller.setDraftShell(chosenShell);
    controller.resetToDefaults();
    ASSERT_TRUE(settled());
    EXPECT_EQ(controller.saveMessage(), QStringLiteral("Settings reset to defaults."));
    EXPECT_EQ(current, AppSettings {});
    EXPECT_EQ(stored(), AppSettings {});
    EXPECT_TRUE(controller.isDraftAtDefaults());
}

TEST_F(SettingsTest, AFailedWriteShowsTheErrorAndKeepsTheNewValuesInMemory)
{
    // A folder that cannot be written: its path runs through a regular file
    // (the tests run as root, so permissions would not stop the write).
    const QString blocker = folder + QStringLiteral("/not-a-folder");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SettingsRepository blocked(blocker + QStringLiteral("/settings.json"));
    SettingsController failing(blocked, currentSettings, apply);
    failing.setDraftShell(chosenShell);
    failing.saveSettings();
    ASSERT_TRUE(waitUntil([&] { return failing.errorMessage().has_value(); }));
    EXPECT_FALSE(failing.errorMessage()->isEmpty());
    EXPECT_FALSE(failing.saveMessage());
    EXPECT_EQ(current.defaultShell, chosenShell);
    EXPECT_FALSE(failing.hasUnsavedChanges());

    failing.clearErrorMessage();
    failing.setAppearanceMode(AppAppearanceMode::dark);
    ASSERT_TRUE(waitUntil([&] { return failing.errorMessage().has_value(); }));
    EXPECT_EQ(current.appearanceMode, AppAppearanceMode::dark);
    EXPECT_EQ(failing.draft().appearanceMode, AppAppearanceMode::dark);
}

TEST_F(SettingsTest, ControlsWaitForStartUpAndTheDraftIsReseededWhenShown)
{
    current.defaultShell = chosenShell;
    SettingsView view(&repository, currentSettings, apply);
    auto *shell = child<QLineEdit>(view, "defaultShellField");
    QWidget *const startUpControls[] = {shell, child<QCheckBox>(view, "darkModeToggle"),
                                        child<QPushButton>(view, "resetSettingsButton")};
    view.show();
    for (QWidget *control : startUpControls)
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    view.setApplicationReady(true);
    for (QWidget *control : startUpControls)
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_EQ(shell->text(), chosenShell);
    EXPECT_EQ(shell->placeholderText(), AppSettings::defaultShellPath());
    EXPECT_FALSE(child<QPushButton>(view, "saveSettingsButton")->isEnabled());
    setTextAsAScreenReader(shell, QStringLiteral("/bin/read-aloud"));
    EXPECT_TRUE(child<QPushButton>(view, "saveSettingsButton")->isEnabled());

    view.controller().setDraftShell(QStringLiteral("/bin/unsaved"));
    view.hide();
    view.show();
    EXPECT_EQ(shell->text(), chosenShell);
}

TEST_F(SettingsTest, ResetEndsTheShellEditInProgressBeforeTheDefaultsComeIn)
{
    current.defaultShell = QStringLiteral("/bin/bash");
    SettingsView view(&repository, currentSettings, apply);
    view.show();
    view.setApplicationReady(true);
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto *shell = child<MacTextField>(view, "defaultShellField");
    shell->setFocus(Qt::TabFocusReason);
    shell->selectAll();
    QTest::keyClicks(shell, QStringLiteral("/bin/typed"));
    ASSERT_TRUE(shell->isBeingEdited());

    child<QPushButton>(view, "resetSettingsButton")->click();
    ASSERT_NE(view.openAlert(), nullptr);
    QPushButton *reset = buttonNamed(*view.openAlert(), QStringLiteral("Reset to Defaults"));
    ASSERT_NE(reset, nullptr);
    reset->click();
    ASSERT_TRUE(waitUntil([&] { return view.controller().saveMessage().has_value(); }));
    EXPECT_EQ(shell->text(), AppSettings::defaultShellPath());
    EXPECT_EQ(view.controller().draft().defaultShell, AppSettings::defaultShellPath());
    EXPECT_FALSE(view.controller().hasUnsavedChanges());
    EXPECT_EQ(stored().defaultShell, AppSettings::defaultShellPath());
}
