#pragma once

#include <Qt>

class QFocusEvent;
class QWidget;

// The focus rule shared by the text inputs. While a window has not yet had its
// initial focus claimed by an InitialFocusSink, an input that does not allow
// automatic focus takes the focus only from Tab, Shift+Tab or a mouse press
// inside it (or back after a popup or a window switch it had the focus
// before); any other focus is handed back at once. The sink lifts the rule
// for every input of its window.
class InitialFocusControl {
public:
    virtual ~InitialFocusControl() = default;

    bool allowsAutomaticFirstResponder() const { return m_allowsAutomatic; }
    void setAllowsAutomaticFirstResponder(bool allows) { m_allowsAutomatic = allows; }
    bool isSuppressingInitialAutomaticFocus() const { return m_suppressing; }
    void setSuppressingInitialAutomaticFocus(bool suppressing) { m_suppressing = suppressing; }

    // Whether a focus-in of this reason is welcome.
    bool acceptsFocus(Qt::FocusReason reason) const;

protected:
    // Call first in focusInEvent; false: the focus was refused and handed back.
    bool admitFocus(QWidget *self, QFocusEvent *event);
    // Call in focusOutEvent.
    void noteFocusOut(QFocusEvent *event);

private:
    bool m_allowsAutomatic = true;
    bool m_suppressing = true;
    bool m_hadFocus = false;
};
