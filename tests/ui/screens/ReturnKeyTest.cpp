#include "services/ButtonLookup.h"

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

void press(Qt::Key key, bool repeat = false)
{
    // None when the sheet has closed.
    if (QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow()) {
        QTest::simulateEvent(focus, true, key, Qt::NoModifier, {}, repeat);
        QTest::simulateEvent(focus, false, key, Qt::NoModifier, {}, repeat);
    }
    QCoreApplication::processEvents();
}

struct Sheet {
    const char *name;
    std::function<std::unique_ptr<QWidget>()> make;
    const char *defaultButton; // its text; pressed by Return where no button has the focus
    const char *fieldText;     // typed into the first field, so that the default can act
    bool opensOnTitle = false;
};

template <typename View, typename... Arguments>
std::function<std::unique_ptr<QWidget>()> make(Arguments... arguments)
{
    return [=] { return std::make_unique<View>(arguments...); };
}

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
        if (auto *field = sheet->findChild<QLineEdit *>(); field && *kind.fieldText)
            QTest::keyClicks(field, QString::fromUtf8(kind.fieldText));
        return sheet;
    }

    // A fresh sheet, then Return held after `tabs` tabs, or else a click on button `click` if any: the
    // buttons clicked (their indexes) and the sheet's own signals but changes of state.
    QStringList outcome(const Sheet &kind, std::optional<qsizetype> tabs, qsizetype click = -1)
    {
        const std::unique_ptr<QWidget> sheet = opened(kind);
        for (qsizetype tab = 0; tab < tabs.value_or(0); ++tab)
            press(Qt::Key_Tab);
        const QList<QAbstractButton *> buttons = sheet->findChildren<QAbstractButton *>();
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QAbstractButton *button : buttons)
            spies.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));
        for (int index = QWidget::staticMetaObject.methodCount(); index < sheet->metaObject()->methodCount(); ++index)
            if (const QMetaMethod signal = sheet->metaObject()->method(index);
                signal.methodType() == QMetaMethod::Signal && !signal.name().endsWith("Changed"))
                spies.push_back(std::make_unique<QSignalSpy>(sheet.get(), signal));
        if (!tabs && click >= 0)
            buttons[click]->click();
        for (int key = 0; tabs && key < 2; ++key)
            press(Qt::Key_Return, key > 0);
        QCoreApplication::processEvents();
        QStringList result;
        for (qsizetype spy = 0; spy < qsizetype(spies.size()); ++spy)
            result.append(QStringList(spies[spy]->count(), spy < buttons.size()
                                                               ? QString::number(spy)
                                                               : QString::fromLatin1(spies[spy]->signal())));
        return result;
    }

    std::vector<Sheet> sheets()
    {
        const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
        const EnvironmentProfile profile =
            saveProfile(QStringLiteral("dev"), {variable("HOST", "example"), variable("TOKEN", "t", true)}, false);
        const CommandThreatAssessment flagged = CommandThreatScanner::assess(QStringLiteral("chmod 777 f; sleep 60"));
        const SudoPasswordRequest sudo {api.id, api.name, SudoLaunchAction::start, {}};
        const CommandThreatReviewRequest review {api.id, api.name, SudoLaunchAction::start, flagged};
        const auto settingsView = [this] {
            auto view = std::make_unique<SettingsView>(
                &settingsRepository, [this] { return settings; }, [](const AppSettings &) {});
            view->setApplicationReady(true);
            return view;
        };
        return {
            {"threat review", make<CommandThreatReviewView>(review), "Run Anyway", "", true},
            {"sudo prompt", make<SudoPasswordPromptView>(sudo), "Start", "pw"},
            {"service editor", make<ServiceEditorView>(ServiceEditorMode::edit(api), api, std::ref(servicesController)),
             "Save", "x", true},
            {"profile editor", make<ProfileEditorView>(ProfileEditorMode::edit(profile), std::ref(profilesController)),
             "Save", "x", true},
            {"settings", settingsView, "", "/bin/sh"},
            {"panel review", make<MenuCommandThreatReviewView>(review), "Run Anyway", ""},
            {"panel sudo prompt", make<MenuSudoPasswordPromptView>(sudo, std::nullopt), "Start", "pw"},
            {"panel", make<MenuBarStatusView>(&manager, &profiles, &lockManager, nullptr, true), "", ""},
        };
    }
};

} // namespace

TEST_F(ReturnKeyTest, ReturnPressesTheFocusedButtonOnceAndElsewhereTheDefault)
{
    for (const Sheet &sheet : sheets()) {
        SCOPED_TRACE(sheet.name);
        const std::unique_ptr<QWidget> probe = opened(sheet);
        if (QWidget *start = QApplication::focusWidget(); sheet.opensOnTitle) {
            EXPECT_FALSE(isPressable(start));
            EXPECT_EQ(QAccessible::queryAccessibleInterface(start)->text(QAccessible::Name), probe->windowTitle());
        }
        QList<QWidget *> round;
        for (int tabs = 0; tabs < 40; ++tabs, press(Qt::Key_Tab))
            round.append(QApplication::focusWidget());
        round = round.mid(1, round.indexOf(round[1], 2) - 1);
        EXPECT_GE(std::count_if(round.begin(), round.end(), isPressable), 2);
        // Each button, and the first stop that is none, after a full round (which made each button the
        // default a moment): one click of that button, or what the sheet's default does, or nothing.
        const QList<QAbstractButton *> buttons = probe->findChildren<QAbstractButton *>();
        const qsizetype field = std::find_if_not(round.begin(), round.end(), isPressable) - round.begin();
        QWidget *byDefault =
            *sheet.defaultButton ? buttonNamed(*probe, QString::fromUtf8(sheet.defaultButton)) : nullptr;
        for (qsizetype stop = 0; stop < round.size(); ++stop) {
            if (stop != field && !isPressable(round[stop]))
                continue;
            const qsizetype button = buttons.indexOf(stop == field ? byDefault : round[stop]);
            SCOPED_TRACE(stop);
            QStringList byKey = outcome(sheet, round.size() + stop + 1);
            QStringList byClick = outcome(sheet, std::nullopt, button);
            if (stop == field) { // a field may answer for the default without clicking it
                byKey.removeAll(QString::number(button));
                byClick.removeAll(QString::number(button));
            }
            EXPECT_EQ(byKey, byClick);
        }
    }
}
