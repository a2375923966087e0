#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerFixture.h"
#include "records/SettingsRepository.h"
#include "ui/components/KeyboardRulesInstalled.h"
#include "ui/components/QtPrinters.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/SudoPasswordPromptView.h"
#include "ui/screens/settings/SettingsView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

const auto *rules = ::testing::AddGlobalTestEnvironment(new KeyboardRulesInstalled);

bool isPressable(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) && !qobject_cast<const QCheckBox *>(widget);
}

// What the sheet does from now on: "+button" for each click, then its answers
// (its own signals but changes of state), in order.
struct Effects {
    explicit Effects(QWidget &sheet)
    {
        const QList<QAbstractButton *> buttons = sheet.findChildren<QAbstractButton *>();
        for (QAbstractButton *button : buttons)
            QObject::connect(button, &QAbstractButton::clicked, &context,
                             [this, button, buttons] { clicks.append(QString::number(buttons.indexOf(button))); });
        const QMetaObject *type = sheet.metaObject();
        for (int index = QWidget::staticMetaObject.methodCount(); index < type->methodCount(); ++index) {
            const QMetaMethod signal = type->method(index);
            if (signal.methodType() == QMetaMethod::Signal && !signal.name().endsWith("Changed"))
                spies.push_back(std::make_unique<QSignalSpy>(&sheet, signal));
        }
    }
    QStringList answers() const
    {
        QStringList names;
        for (const auto &spy : spies)
            names.append(QStringList(spy->count(), QString::fromLatin1(spy->signal())));
        return names;
    }

    QObject context;
    QStringList clicks;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
};

void press(Qt::Key key, bool repeat = false)
{
    QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
    if (!focus) // the sheet closed
        return;
    QTest::simulateEvent(focus, true, key, Qt::NoModifier, {}, repeat);
    QTest::simulateEvent(focus, false, key, Qt::NoModifier, {}, repeat);
    QCoreApplication::processEvents();
}

struct Sheet {
    const char *name;
    std::function<std::unique_ptr<QWidget>()> make;
    // Pressed by Return in a field or where no button has the focus; empty: none.
    QString defaultButton;
    // Typed into the first field, so that the default can act.
    QString fieldText;
    // Opens with the focus on no control, named by the sheet's title.
    bool opensOnTitle = false;
};

struct ReturnKeyTest : ServiceManagerTest {
    ProfilesController profilesController {profiles, lockManager};
    ServicesController servicesController {manager, profiles, lockManager, history};
    SettingsRepository settingsRepository {applicationSupportDirectory() + QStringLiteral("/settings.json")};
    // Not the defaults: "Reset to Defaults" can be pressed.
    AppSettings settings {QStringLiteral("/usr/local/bin/chosen-shell")};

    std::unique_ptr<QWidget> opened(const Sheet &kind)
    {
        for (const ManagedService &service : manager.services())
            if (running(service.id))
                await(manager.stop(service.id, true));
        std::unique_ptr<QWidget> sheet = kind.make();
        sheet->show();
        sheet->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
        QTest::qWait(20); // the initial focus is claimed after the activation
        if (auto *field = sheet->findChild<QLineEdit *>(); field && !kind.fieldText.isEmpty())
            QTest::keyClicks(field, kind.fieldText);
        return sheet;
    }

    // Tab `count` times; the stops passed, in order.
    static QList<QWidget *> tab(int count)
    {
        QList<QWidget *> stops;
        for (int tabs = 0; tabs < count; ++tabs) {
            press(Qt::Key_Tab);
            stops.append(QApplication::focusWidget());
        }
        return stops;
    }

    // The index of the button `name` names (its object name or text), as Effects counts them.
    static QString buttonIndex(QWidget &sheet, const QString &name)
    {
        const QList<QAbstractButton *> buttons = sheet.findChildren<QAbstractButton *>();
        for (qsizetype index = 0; index < buttons.size(); ++index)
            if (buttons[index]->objectName() == name || buttons[index]->text() == name)
                return QString::number(index);
        return {};
    }

    std::vector<Sheet> sheets()
    {
        const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
        const EnvironmentProfile profile =
            saveProfile(QStringLiteral("dev"), {variable("HOST", "example"), variable("TOKEN", "t", true)}, false);
        const CommandThreatAssessment flagged = CommandThreatScanner::assess(QStringLiteral("chmod 777 f; sleep 60"));
        const SudoPasswordRequest sudo {api.id, api.name, SudoLaunchAction::start, {}};
        const CommandThreatReviewRequest review {api.id, api.name, SudoLaunchAction::start, flagged};
        return {
            {"threat review",
             [=] { return std::make_unique<CommandThreatReviewView>(review); },
             QStringLiteral("runAnywayButton"),
             {},
             true},
            {"sudo prompt", [=] { return std::make_unique<SudoPasswordPromptView>(sudo); },
             QStringLiteral("launchButton"), QStringLiteral("pw")},
            {"service editor",
             [=, this] {
                 return std::make_unique<ServiceEditorView>(ServiceEditorMode::edit(api), api, servicesController);
             },
             QStringLiteral("saveButton"), QStringLiteral("x"), true},
            {"profile editor",
             [=, this] {
                 return std::make_unique<ProfileEditorView>(ProfileEditorMode::edit(profile), profilesController);
             },
             QStringLiteral("saveButton"), QStringLiteral("x"), true},
            {"settings",
             [this] {
                 auto view = std::make_unique<SettingsView>(
                     &settingsRepository, [this] { return settings; }, [](const AppSettings &) {});
                 view->setApplicationReady(true);
                 return view;
             },
             {},
             QStringLiteral("/bin/sh")},
            {"panel review",
             [=] { return std::make_unique<MenuCommandThreatReviewView>(review); },
             QStringLiteral("Run Anyway"),
             {}},
            {"panel sudo prompt", [=] { return std::make_unique<MenuSudoPasswordPromptView>(sudo, std::nullopt); },
             QStringLiteral("Start"), QStringLiteral("pw")},
            {"panel",
             [this] { return std::make_unique<MenuBarStatusView>(&manager, &profiles, &lockManager, nullptr, true); },
             {},
             {}},
        };
    }
};

} // namespace

TEST_F(ReturnKeyTest, ReturnPressesTheFocusedButtonOnceAndElsewhereTheDefault)
{
    for (const Sheet &sheet : sheets()) {
        SCOPED_TRACE(sheet.name);
        const std::unique_ptr<QWidget> probe = opened(sheet);
        if (sheet.opensOnTitle) {
            EXPECT_FALSE(isPressable(QApplication::focusWidget()));
            EXPECT_EQ(QAccessible::queryAccessibleInterface(QApplication::focusWidget())->text(QAccessible::Name),
                      probe->windowTitle());
        }
        QList<QWidget *> round = tab(40);
        round = round.mid(0, round.indexOf(round.first(), 1));
        const QList<QAbstractButton *> buttons = probe->findChildren<QAbstractButton *>();
        int pressed = 0;
        for (qsizetype stop = 0; stop < round.size(); ++stop) {
            if (!isPressable(round[stop]))
                continue;
            const QString button = QString::number(buttons.indexOf(round[stop]));
            SCOPED_TRACE(qobject_cast<QAbstractButton *>(round[stop])->text().toStdString());
            ++pressed;
            // Tab to it and hold Return: what one click does, and nothing else.
            const QStringList clickAnswers = [&] {
                const std::unique_ptr<QWidget> clicked = opened(sheet);
                Effects effects(*clicked);
                clicked->findChildren<QAbstractButton *>().at(button.toInt())->click();
                QCoreApplication::processEvents();
                return effects.answers();
            }();
            const std::unique_ptr<QWidget> typed = opened(sheet);
            tab(int(stop) + 1);
            Effects effects(*typed);
            press(Qt::Key_Return);
            press(Qt::Key_Return, true);
            EXPECT_EQ(effects.clicks, QStringList {button});
            EXPECT_EQ(effects.answers(), clickAnswers);
        }
        EXPECT_GE(pressed, 2);

        // Round every button to the first field (or stop that is no button): the default, or nothing.
        const auto field = std::find_if(round.begin(), round.end(), [](QWidget *stop) {
            return qobject_cast<QLineEdit *>(stop) || !isPressable(stop);
        });
        if (field == round.end())
            continue;
        const std::unique_ptr<QWidget> form = opened(sheet);
        tab(int(round.size() + (field - round.begin()) + 1));
        Effects byKey(*form);
        press(Qt::Key_Return);
        const std::unique_ptr<QWidget> reference = opened(sheet);
        Effects byClick(*reference);
        if (const QString index = buttonIndex(*reference, sheet.defaultButton); !index.isEmpty())
            reference->findChildren<QAbstractButton *>().at(index.toInt())->click();
        QCoreApplication::processEvents();
        byKey.clicks.removeAll(buttonIndex(*form, sheet.defaultButton));
        EXPECT_EQ(byKey.clicks, QStringList());
        EXPECT_EQ(byKey.answers(), byClick.answers());
    }
}
