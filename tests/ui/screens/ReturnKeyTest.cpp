#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerFixture.h"
#include "records/SettingsRepository.h"
#include "ui/components/KeyboardRulesInstalled.h"
#include "ui/components/QtPrinters.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"
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

QString label(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("(none)");
    if (!widget->objectName().isEmpty())
        return widget->objectName();
    if (!widget->accessibleName().isEmpty())
        return widget->accessibleName();
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    return button ? button->text() : QString::fromLatin1(widget->metaObject()->className());
}

bool isPressable(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) && !qobject_cast<const QCheckBox *>(widget);
}

// The buttons clicked and the sheet's own answers, in order, from the moment
// it is made until it is read.
class Effects {
public:
    explicit Effects(QWidget &sheet)
    {
        for (QAbstractButton *button : sheet.findChildren<QAbstractButton *>())
            QObject::connect(button, &QAbstractButton::clicked, &m_context,
                             [this, name = label(button)] { m_clicked.append(name); });
        const QMetaObject *type = sheet.metaObject();
        for (int index = QWidget::staticMetaObject.methodCount(); index < type->methodCount(); ++index) {
            const QMetaMethod method = type->method(index);
            // A change of state, not an answer.
            if (method.methodType() == QMetaMethod::Signal && !method.name().endsWith("Changed"))
                m_spies.push_back({QString::fromLatin1(method.name()), std::make_unique<QSignalSpy>(&sheet, method)});
        }
    }

    QStringList clicked() const { return m_clicked; }
    QStringList emitted() const
    {
        QStringList names;
        for (const auto &[name, spy] : m_spies)
            names.append(QStringList(spy->count(), name));
        return names;
    }

private:
    QObject m_context;
    QStringList m_clicked;
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> m_spies;
};

QWidget *keyTarget(QWidget &sheet)
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus : &sheet;
}

void press(QWidget &sheet, Qt::Key key)
{
    QTest::keyClick(keyTarget(sheet), key);
    QCoreApplication::processEvents();
}

// A held key: the first press and two of its repeats.
void hold(QWidget &sheet, Qt::Key key)
{
    QTest::simulateEvent(keyTarget(sheet), true, key, Qt::NoModifier, QStringLiteral("\r"), false);
    for (int repeat = 0; repeat < 2; ++repeat)
        QTest::simulateEvent(keyTarget(sheet), true, key, Qt::NoModifier, QStringLiteral("\r"), true);
    QTest::simulateEvent(keyTarget(sheet), false, key, Qt::NoModifier, QStringLiteral("\r"), false);
    QCoreApplication::processEvents();
}

struct Sheet {
    const char *name;
    std::function<std::unique_ptr<QWidget>()> make;
    // Pressed by Return in a field or with no button focused; empty: nothing.
    QString defaultButton;
    // Typed into the field first, so that the default can act.
    QString fieldText;
    // Opens with the focus on no control, which a screen reader names by the sheet's title.
    bool opensOnTitle = false;
};

struct ReturnKeyTest : ServiceManagerTest {
    ProfilesController profilesController {profiles, lockManager};
    ServicesController servicesController {manager, profiles, lockManager, history};
    SettingsRepository settingsRepository {applicationSupportDirectory() + QStringLiteral("/settings.json")};
    // Not the defaults: "Reset to Defaults" can be pressed.
    AppSettings settings {QStringLiteral("/usr/local/bin/chosen-shell")};

    // Shown and active, with the sheet's text in its first field.
    std::unique_ptr<QWidget> opened(const Sheet &kind)
    {
        stopAll();
        std::unique_ptr<QWidget> sheet = kind.make();
        sheet->show();
        sheet->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
        // The initial focus is claimed after the activation.
        QTest::qWait(20);
        if (auto *field = sheet->findChild<QLineEdit *>(); field && !kind.fieldText.isEmpty())
            QTest::keyClicks(field, kind.fieldText);
        return sheet;
    }

    void stopAll()
    {
        for (const ManagedService &service : manager.services()) {
            if (running(service.id))
                await(manager.stop(service.id, true));
        }
    }

    // Each focus stop Tab reaches, in order, once round.
    static QList<QWidget *> tabStops(QWidget &sheet)
    {
        QList<QWidget *> stops;
        for (int tabs = 0; tabs < 60; ++tabs) {
            press(sheet, Qt::Key_Tab);
            QWidget *now = QApplication::focusWidget();
            if (!now || (!stops.isEmpty() && now == stops.first()))
                break;
            stops.append(now);
        }
        return stops;
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
             {}},
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
            {"services",
             [=, this] {
                 auto view = std::make_unique<ServicesView>(manager, profiles, lockManager, history);
                 view->selectService(api.id);
                 return view;
             },
             {},
             {}},
            {"dashboard",
             [this] { return std::make_unique<DashboardView>(&manager, nullptr, [](const QUuid &) {}); },
             {},
             {}},
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
        const QList<QWidget *> stops = tabStops(*probe);
        ASSERT_FALSE(stops.isEmpty());
        QStringList buttonsReached;
        for (qsizetype index = 0; index < stops.size(); ++index) {
            if (!isPressable(stops[index]))
                continue;
            const QString name = label(stops[index]);
            buttonsReached.append(name);
            SCOPED_TRACE(name.toStdString());

            // What a click on it does, against Tab to it and a held Return.
            const QStringList clickAnswers = [&] {
                const std::unique_ptr<QWidget> clicked = opened(sheet);
                Effects byClick(*clicked);
                clicked->findChildren<QAbstractButton *>()
                    .at(probe->findChildren<QAbstractButton *>().indexOf(stops[index]))
                    ->click();
                QCoreApplication::processEvents();
                return byClick.emitted();
            }();

            const std::unique_ptr<QWidget> typed = opened(sheet);
            for (qsizetype tabs = 0; tabs <= index; ++tabs)
                press(*typed, Qt::Key_Tab);
            ASSERT_EQ(label(QApplication::focusWidget()), name);
            Effects byKey(*typed);
            hold(*typed, Qt::Key_Return);
            EXPECT_EQ(byKey.clicked(), QStringList {name});
            EXPECT_EQ(byKey.emitted(), clickAnswers);
        }
        EXPECT_GE(buttonsReached.size(), 2) << buttonsReached.join(u',').toStdString();

        // Tab round every button to the first field (or the first stop that
        // is no button), then Return: the default, or nothing.
        const std::unique_ptr<QWidget> form = opened(sheet);
        const QList<QWidget *> round = tabStops(*form);
        auto field =
            std::find_if(round.begin(), round.end(), [](QWidget *stop) { return qobject_cast<QLineEdit *>(stop); });
        if (field == round.end())
            field = std::find_if(round.begin(), round.end(), [](QWidget *stop) { return !isPressable(stop); });
        if (field == round.end())
            continue;
        while (QApplication::focusWidget() != *field)
            press(*form, Qt::Key_Tab);
        Effects byKey(*form);
        press(*form, Qt::Key_Return);
        const QStringList others = [&] {
            QStringList clicked = byKey.clicked();
            clicked.removeAll(sheet.defaultButton);
            return clicked;
        }();
        EXPECT_EQ(others, QStringList()) << label(*field).toStdString();
        if (sheet.defaultButton.isEmpty()) {
            EXPECT_TRUE(byKey.clicked().isEmpty()) << label(*field).toStdString();
            continue;
        }
        const std::unique_ptr<QWidget> reference = opened(sheet);
        Effects byClick(*reference);
        for (QAbstractButton *button : reference->findChildren<QAbstractButton *>())
            if (label(button) == sheet.defaultButton)
                button->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(byKey.emitted(), byClick.emitted()) << label(*field).toStdString();
    }
}
