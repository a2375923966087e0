#include "ui/components/KeyboardRules.h"

#include "platform/X11Keyboard.h"
#include "ui/components/FocusReveal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPlatformSurfaceEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QTextEdit>
#include <QWindow>

namespace {

// The keys that press a button, whose holds must press it only once.
bool pressesButtons(const QKeyEvent &key)
{
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter || key.key() == Qt::Key_Space;
}

bool isPlainReturn(const QKeyEvent &key)
{
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
           && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// A key event reaches the focus widget first and then each parent; only that
// first delivery counts.
QWidget *focusedReceiver(QObject *watched)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    return widget && widget == widget->window()->focusWidget() ? widget : nullptr;
}

QAbstractButton *pressableButton(QWidget *widget)
{
    auto *button = qobject_cast<QAbstractButton *>(widget);
    // A check box or radio button holds a form's value: Return there still
    // means the form's default.
    if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button))
        return nullptr;
    return button;
}

bool typesNewLines(const QWidget *widget)
{
    if (const auto *text = qobject_cast<const QPlainTextEdit *>(widget))
        return !text->isReadOnly();
    const auto *text = qobject_cast<const QTextEdit *>(widget);
    return text && !text->isReadOnly();
}

// Innermost first, so that each outer area scrolls to where the inner one
// now shows the widget.
void revealInScrollAreas(QWidget *widget)
{
    for (QWidget *ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(ancestor);
        if (area && area->widget() && area->widget()->isAncestorOf(widget))
            FocusReveal::reveal(*area, *widget);
    }
}

bool handleReturn(QWidget *receiver, QKeyEvent *key, bool repeats)
{
    if (key->type() == QEvent::KeyRelease || !isPlainReturn(*key) || typesNewLines(receiver))
        return false;
    QAbstractButton *button = pressableButton(receiver);
    if (!button && !repeats)
        return false;
    if (key->type() == QEvent::ShortcutOverride) {
        // Accepted here, the key goes to the widget rather than to a shortcut.
        key->accept();
        return true;
    }
    if (button && !repeats)
        button->click();
    return true;
}

} // namespace

KeyboardRules::KeyboardRules(QObject *parent)
    : QObject(parent),
      m_x11(X11Keyboard::forApplication(
          [this](quint32 keycode, bool pressed, quint32 time) {
              if (pressed)
                  m_x11Presses.notePress(keycode, time);
              else
                  m_x11Presses.noteRelease(keycode, time);
          },
          // A key whose press opened another application's window (a
          // terminal) may be released there, out of our sight, or held on
          // until the focus comes back: the server says which.
          [this](const QList<quint32> &keycodes) { m_x11Presses.noteDownKeys(keycodes); }))
{
    // A release Qt drops (its window blocked by a modal dialog) never reaches
    // this filter. Where the X connection's own events are not seen, a key
    // still noted as down when the focus moves to another window is taken as
    // released; the time stamps of releases still tell the repeats there.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] { m_presses.forgetDownKeys(); });
    if (m_x11) {
        for (QWindow *window : QGuiApplication::topLevelWindows())
            if (window->handle())
                m_x11->reportDownKeysOnFocus(window->winId());
    }
}

KeyboardRules::~KeyboardRules() = default;

void KeyboardRules::install()
{
    auto *application = qApp;
    if (!application || application->findChild<KeyboardRules *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    application->installEventFilter(new KeyboardRules(application));
}

bool KeyboardRules::noteKey(const QKeyEvent &key)
{
    if (m_x11 && key.nativeScanCode() != 0) {
        // Noted in the order the server sent them, before any was delivered.
        return key.type() != QEvent::KeyRelease
               && m_x11Presses.answer(key.nativeScanCode(), key.timestamp()).value_or(false);
    }
    if (key.type() == QEvent::KeyRelease) {
        m_presses.noteRelease(quint32(key.key()), key.timestamp());
        return false;
    }
    return m_presses.notePress(quint32(key.key()), key.timestamp());
}

// A button takes Space itself: down on the press, clicked on the release.
// Neither a repeat's press nor its release reaches it, so only the release
// that ends the hold clicks it.
bool KeyboardRules::handleSpace(QAbstractButton *button, const QKeyEvent &key, bool repeats) const
{
    if (!button || key.key() != Qt::Key_Space || key.type() == QEvent::ShortcutOverride)
        return false;
    if (key.type() == QEvent::KeyPress)
        return repeats;
    // A release whose key is still down at the server is a repeat's, which a
    // press at the same time follows.
    return m_x11 && !m_x11->repeatsWithoutRelease() && key.nativeScanCode() != 0 && m_x11->isDown(key.nativeScanCode());
}

bool KeyboardRules::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (!pressesButtons(*key))
            return false;
        // Each delivery of the event, to the window and on to each widget, is noted alike.
        const bool repeats = noteKey(*key) || key->isAutoRepeat();
        QWidget *receiver = focusedReceiver(watched);
        return receiver
               && (handleReturn(receiver, key, repeats)
                   || handleSpace(qobject_cast<QAbstractButton *>(receiver), *key, repeats));
    }
    case QEvent::PlatformSurface:
        // Before the window is shown, so before it can have the focus.
        if (auto *window = qobject_cast<QWindow *>(watched);
            window && m_x11 && !window->parent()
            && static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() == QPlatformSurfaceEvent::SurfaceCreated)
            m_x11->reportDownKeysOnFocus(window->winId());
        return false;
    case QEvent::FocusIn:
        // A click lands on what is shown already.
        if (auto *widget = qobject_cast<QWidget *>(watched);
            widget && static_cast<QFocusEvent *>(event)->reason() != Qt::MouseFocusReason)
            revealInScrollAreas(widget);
        return false;
    default:
        return false;
    }
}
