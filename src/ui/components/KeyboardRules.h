#pragma once

#include "ui/components/KeyPressHistory.h"

#include <QObject>

#include <memory>

class QAbstractButton;
class QKeyEvent;
class X11Keyboard;

// The desktop's keyboard conventions that Qt leaves to each widget, kept once
// for every window of the application:
// - Return (or Enter) presses the focused button as Space does, in plain
//   windows as in dialogs, and no window shortcut takes it from the button;
//   elsewhere it keeps its meaning (a dialog's default, a new line).
// - A held Return, Enter or Space presses nothing a second time: Return's
//   repeats only type new lines, and Space clicks the focused button once,
//   when the key comes up. A repeat is told by its time stamps (see
//   KeyPressHistory), as Qt flags one only now and then on X11; there the
//   server is also asked to send repeats as presses alone, and to say which
//   keys are down each time the focus comes back: a key held while another
//   application had the focus goes on repeating, one released there presses.
// - A control that takes the focus from the keyboard inside a scroll area is
//   scrolled into view, wherever the focus came from.
class KeyboardRules final : public QObject {
    Q_OBJECT
public:
    // Once the QApplication exists; a second call changes nothing.
    static void install();
    ~KeyboardRules() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KeyboardRules(QObject *parent);

    // Notes the press or release; for a press, whether it repeats a held key.
    bool noteKey(const QKeyEvent &key);
    bool handleSpace(QAbstractButton *button, const QKeyEvent &key, bool repeats) const;

    KeyPressHistory m_presses;    // by Qt's key, where there is no X key code
    KeyPressHistory m_x11Presses; // by X key code, as the X connection saw them
    std::unique_ptr<X11Keyboard> m_x11;
};
