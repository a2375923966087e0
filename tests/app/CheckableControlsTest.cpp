#include "AppFixture.h"

#include "app/MenuBarController.h"
#include "app/MenuBarEnvironment.h"
#include "app/SectionScreens.h"
#include "ui/components/ConsoleOutputView.h"
#include "ui/platform/StatusItem.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"

#include <QAccessible>
#include <QCheckBox>
#include <QMainWindow>
#include <QPushButton>
#include <QToolButton>

#include <functional>

using CheckableControlsTest = AppFixture;

// A screen reader's Toggle calls QAbstractButton::toggle(), which sends no
// click: each checkable control must act on its state alone.
TEST_F(CheckableControlsTest, AScreenReadersToggleActsOnEveryCheckableControl)
{
    buildReady();
    EnvironmentProfilesView profiles(&app->environmentProfilesManager(), &app->protectedProfilesLockManager());
    profiles.show();
    profiles.controller().createProfile();
    ASSERT_TRUE(waitUntil([&] { return profiles.editor() != nullptr; }));
    ProfileEditorView &editor = *profiles.editor();
    editor.findChild<QPushButton *>(QStringLiteral("addVariableButton"))->click();
    const auto draft = [&] { return editor.model().draft; };
    const std::unique_ptr<QWidget> settings(makeSettingsScreen(*app, nullptr));
    settings->show();
    ServiceRunOutputSheet sheet(ServiceRunRecord {});
    sheet.show();
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    window.resize(1180, 760);
    window.show();
    MenuBarController menuBar;
    menuBar.configure(MenuBarEnvironment::from(*app));
    QToolButton *panelButton = present(qobject_cast<ToolButtonStatusItem *>(menuBar.statusItem())).button();

    const std::pair<QAbstractButton *, std::function<bool()>> rows[] {
        {editor.findChild<ProfileEditorVariableRow *>()->secretToggle(),
         [&] { return draft().variables.value(0).isSecret; }},
        {editor.findChild<QCheckBox *>(QStringLiteral("protectedToggle")), [&] { return draft().isProtected; }},
        {settings->findChild<QCheckBox *>(QStringLiteral("darkModeToggle")),
         [] {
             QFile file(dataFile(QStringLiteral("settings.json")));
             return file.open(QIODevice::ReadOnly) && file.readAll().contains("\"dark\"");
         }},
        {sheet.findChild<QCheckBox *>(), [&] { return !present(sheet.findChild<ConsoleOutputView *>()).autoScroll(); }},
        {panelButton, [&] { return menuBar.isPanelVisible(); }},
    };
    QList<QAbstractButton *> checkable;
    for (const QWidget *root : std::initializer_list<const QWidget *> {&editor, settings.get(), &sheet, &window})
        for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
            if (button->isCheckable() && !button->objectName().startsWith(QStringLiteral("qt_"))) // Qt's own
                checkable.append(button);
    EXPECT_EQ(checkable.size(), qsizetype(std::size(rows))) << "a checkable control without a row";
    for (const auto &[button, acted] : rows) {
        ASSERT_NE(button, nullptr);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
        SCOPED_TRACE(accessible->text(QAccessible::Name).toStdString());
        EXPECT_TRUE(checkable.contains(button));
        ASSERT_FALSE(acted());
        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(waitUntil(acted));
    }
}
