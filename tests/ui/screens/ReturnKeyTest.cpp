#include "services/ButtonLookup.h"

#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerFixture.h"
#include "ui/components/KeyboardRulesInstalled.h"
#include "ui/components/QtPrinters.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/screens/services/CommandThreatReviewView.h"
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

// A key down or up at `time` (0: none), flagged as a repeat or not, as a window system sends it.
void sendKey(Qt::Key key, bool down, ulong time, bool repeat)
{
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, key,
                    key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier, {}, repeat);
    event.setTimestamp(time);
    if (QWidget *focus = QApplication::focusWidget()) // none once the sheet has closed
        QApplication::sendEvent(focus, &event);
    QCoreApplication::processEvents();
}

struct Sheet {
    std::function<std::unique_ptr<QWidget>()> make;
    const char *defaultButton; // its text; pressed by Return where no button has the focus
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

    // A fresh sheet, `tabs` tabs, then `act` on its buttons: how often each button was clicked, then each of
    // the sheet's own signals but changes of state was sent.
    QStringList outcome(const Sheet &kind, qsizetype tabs, const std::function<void(QList<QAbstractButton *>)> &act)
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
        act(buttons);
        QCoreApplication::processEvents();
        QStringList counts;
        for (const auto &spy : spies)
            counts << QString::number(spy->count());
        return counts;
    }
};

} // namespace

TEST_F(ReturnKeyTest, ReturnEnterAndSpacePressTheFocusedButtonOnceAHoldAndElsewhereTheDefault)
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
    // Held, then pressed again: a held key's repeats come flagged, as a press alone, or (as an X server sends them
    // to a client that asks nothing) as a release and a press at one time, unflagged. Down or up at a time in ms.
    struct Stroke {
        bool down;
        ulong time;
        bool repeat = false;
    };
    const Stroke strokes[] {{true, 1},   {false, 200, true}, {true, 200, true}, {true, 400},  {false, 500},
                            {true, 500}, {false, 700},       {true, 900},       {false, 1000}};
    ulong start = 0;
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
            const QStringList byClick = outcome(sheet, 0, [&](const QList<QAbstractButton *> &all) {
                const QWidget *focus = QApplication::focusWidget();
                for (int click = 0; click < 2; ++click, QCoreApplication::processEvents())
                    if (QApplication::focusWidget() == focus) // else what it opened takes the second press
                        all[button]->click();
            });
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
                if (key == Qt::Key_Space && stop == field) // where it is typed
                    continue;
                start += 2000;
                QStringList byKey = outcome(sheet, round.size() + stop + 1, [&](auto) {
                    for (const auto &[down, time, repeat] : strokes)
                        sendKey(key, down, start + time, repeat);
                });
                if (stop == field) // a field may answer for the default without clicking it
                    byKey[button] = byClick[button];
                EXPECT_EQ(byKey, byClick) << QMetaEnum::fromType<Qt::Key>().valueToKey(key);
            }
        }
    }
}
