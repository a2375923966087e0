#include "services/ButtonLookup.h"

#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerFixture.h"
#include "ui/components/KeyboardRulesInstalled.h"
#include "ui/components/QtPrinters.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/ServiceDetailView.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServicesController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

const auto *rules = ::testing::AddGlobalTestEnvironment(new KeyboardRulesInstalled);

void press(Qt::Key key, bool repeat = false)
{
    // None when the sheet has closed.
    if (QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow())
        for (const bool down : {true, false})
            QTest::simulateEvent(focus, down, key, Qt::NoModifier, {}, repeat);
    QCoreApplication::processEvents();
}

// A key as an X server sends it: down or up at `time`, never flagged as a repeat.
void sendKey(Qt::Key key, bool down, ulong time)
{
    QWidget *focus = QApplication::focusWidget();
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r");
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text);
    event.setTimestamp(time);
    QSpontaneKeyEvent::setSpontaneous(&event);
    if (focus && !(down && qt_sendShortcutOverrideEvent(focus, time, key, modifiers, text)))
        qApp->notify(focus, &event);
}

struct Sheet {
    std::function<std::unique_ptr<QWidget>()> make;
    const char *defaultButton = nullptr; // its text; pressed by Return where no button has the focus
};

struct ReturnKeyTest : ServiceManagerTest {
    ServicesController servicesController {manager, profiles, lockManager, history};

    std::unique_ptr<QWidget> opened(const Sheet &kind)
    {
        std::unique_ptr<QWidget> sheet = kind.make();
        sheet->show();
        sheet->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
        QTest::qWait(20);                                  // the initial focus is claimed after the activation
        if (auto *field = sheet->findChild<QLineEdit *>()) // so that the default can act
            QTest::keyClicks(field, QStringLiteral("x"));
        return sheet;
    }

    // A fresh sheet, then Return held after `tabs` tabs, or else a click on button `click`: how often
    // each button was clicked, then each of the sheet's own signals but changes of state was sent.
    QStringList outcome(const Sheet &kind, qsizetype tabs, qsizetype click = -1)
    {
        const std::unique_ptr<QWidget> sheet = opened(kind);
        for (qsizetype tab = 0; tab < tabs; ++tab)
            press(Qt::Key_Tab);
        const QList<QAbstractButton *> buttons = sheet->findChildren<QAbstractButton *>();
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QAbstractButton *button : buttons)
            spies.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));
        for (int index = QWidget::staticMetaObject.methodCount(); index < sheet->metaObject()->methodCount(); ++index)
            if (const QMetaMethod signal = sheet->metaObject()->method(index);
                signal.methodType() == QMetaMethod::Signal && !signal.name().endsWith("Changed"))
                spies.push_back(std::make_unique<QSignalSpy>(sheet.get(), signal));
        if (click >= 0)
            buttons[click]->click();
        for (int key = 0; click < 0 && key < 2; ++key)
            press(Qt::Key_Return, key > 0);
        QCoreApplication::processEvents();
        QStringList counts;
        for (const auto &spy : spies)
            counts << QString::number(spy->count());
        return counts;
    }
};

} // namespace

TEST_F(ReturnKeyTest, ReturnPressesTheFocusedButtonOnceAndElsewhereTheDefault)
{
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
    const CommandThreatAssessment flagged = CommandThreatScanner::assess(QStringLiteral("chmod 777 f; sleep 60"));
    const CommandThreatReviewRequest review {api.id, api.name, SudoLaunchAction::start, flagged};
    const Sheet sheets[] {
        {[&] { return std::make_unique<CommandThreatReviewView>(review); }, "Run Anyway"},
        {[&] { return std::make_unique<ServiceEditorView>(ServiceEditorMode::edit(api), api, servicesController); },
         "Save"},
        // Its Return is a window shortcut of its own.
        {[&] { return std::make_unique<MenuCommandThreatReviewView>(review); }, "Run Anyway"},
    };
    const auto isPressable = [](const QWidget *widget) { return qobject_cast<const QAbstractButton *>(widget); };
    for (const Sheet &sheet : sheets) {
        const std::unique_ptr<QWidget> probe = opened(sheet);
        SCOPED_TRACE(probe->metaObject()->className());
        QList<QWidget *> round;
        for (int tabs = 0; tabs < 40; ++tabs, press(Qt::Key_Tab))
            round.append(QApplication::focusWidget());
        round = round.mid(1, round.indexOf(round[1], 2) - 1);
        // Each button, and the first stop that is none, after a full round (which made each button the
        // default a moment): one click of that button, or what the sheet's default does, or nothing.
        const QList<QAbstractButton *> buttons = probe->findChildren<QAbstractButton *>();
        const qsizetype field = std::find_if_not(round.begin(), round.end(), isPressable) - round.begin();
        QWidget *byDefault = buttonNamed(*probe, QString::fromUtf8(sheet.defaultButton));
        for (qsizetype stop = 0; stop < round.size(); ++stop) {
            if (stop != field && !isPressable(round[stop]))
                continue;
            const qsizetype button = buttons.indexOf(stop == field ? byDefault : round[stop]);
            SCOPED_TRACE(stop);
            QStringList byKey = outcome(sheet, round.size() + stop + 1);
            QStringList byClick = outcome(sheet, 0, button);
            if (stop == field) // a field may answer for the default without clicking it
                byKey[button] = byClick[button] = QString();
            EXPECT_EQ(byKey, byClick);
        }
    }
}

// Held, a key goes on pressing: each repeat a release and a press at one time (as an X server sends them
// unless asked otherwise) or a press alone, and none flagged as a repeat. Each hold clicks once.
TEST_F(ReturnKeyTest, AHeldKeyClicksTheFocusedButtonOnceWhateverQtFlags)
{
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
    const CommandThreatReviewRequest review {api.id, api.name, SudoLaunchAction::start,
                                             CommandThreatScanner::assess(QStringLiteral("chmod 777 f"))};
    const std::pair<Sheet, const char *> buttons[] {
        {{[&] { return std::make_unique<CommandThreatReviewView>(review); }}, "cancelButton"},
        {{[&] {
             auto view = std::make_unique<ServiceDetailView>(servicesController);
             view->setService(api);
             return view;
         }},
         "startButton"},
        {{[&] {
             auto view = std::make_unique<ServiceEditorView>(ServiceEditorMode::edit(api), api, servicesController);
             // Save takes another press once a save has its answer (failed: the sheet stays) and the focus is back.
             QObject::connect(view.get(), &ServiceEditorView::saveRequested, view.get(), [view = view.get()] {
                 view->saveFinished(false);
                 view->findChild<QWidget *>(QStringLiteral("saveButton"))->setFocus();
             });
             return view;
         }},
         "saveButton"}};
    // Down or up at a time in ms, then the clicks.
    const std::pair<std::vector<std::pair<bool, ulong>>, int> holds[] {
        {{{true, 1}, {false, 500}, {true, 500}, {false, 530}, {true, 530}, {false, 700}}, 1},
        {{{true, 1}, {true, 500}, {true, 530}, {false, 700}}, 1},
        {{{true, 1}, {false, 100}, {true, 300}, {false, 400}}, 2}};
    ulong start = 0;
    for (const auto &[sheet, name] : buttons)
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
            for (const auto &[events, clicks] : holds) {
                const std::unique_ptr<QWidget> window = opened(sheet);
                auto *button = window->findChild<QAbstractButton *>(QString::fromLatin1(name));
                button->setFocus();
                const QSignalSpy clicked(button, &QAbstractButton::clicked);
                for (const auto &[down, time] : events)
                    sendKey(key, down, start + time);
                start += 1000;
                EXPECT_EQ(clicked.count(), clicks) << name << " " << QTest::toString(key) << " " << events.size();
            }
}
