#pragma once

#include <QObject>

// The desktop's keyboard conventions that Qt leaves to each widget, kept once
// for every window of the application:
// - Return (or Enter) presses the focused button as Space does, in plain
//   windows as in dialogs, and no window shortcut takes it from the button;
//   elsewhere it keeps its meaning (a dialog's default, a new line).
// - A held Return presses nothing a second time: its repeats only type new
//   lines, so one long press never starts and then stops a service.
// - A control that takes the focus from the keyboard inside a scroll area is
//   scrolled into view, wherever the focus came from.
class KeyboardRules final : public QObject {
    Q_OBJECT
public:
    // Once the QApplication exists; a second call changes nothing.
    static void install();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};
