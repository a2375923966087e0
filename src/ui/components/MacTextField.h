#pragma once

#include "ui/components/InitialFocusControl.h"

#include <QLineEdit>

// A single-line text input. It takes no focus by itself (unless allowed), see
// InitialFocusControl. A screen listens to textChanged, not textEdited: a
// screen reader sets the text from outside, and that is typing too. A screen
// that changes the text from elsewhere calls setBoundText, which leaves the
// field alone while the user edits it; the setter it feeds must ignore an
// unchanged value, so the write does not come back:
//     auto *name = new MacTextField(QStringLiteral("Name"), MacTextField::Style::rounded);
//     connect(name, &QLineEdit::textChanged, controller, &Controller::setName);
class MacTextField : public QLineEdit, public InitialFocusControl {
    Q_OBJECT
public:
    enum class Style { rounded, plain };

    explicit MacTextField(const QString &placeholder = QString(), Style style = Style::rounded,
                          bool isMonospaced = false, bool allowsAutomaticFocus = false, QWidget *parent = nullptr);

    void setStyle(Style style);
    Style style() const { return m_style; }
    // Replaces the text unless the field is being edited.
    void setBoundText(const QString &text);
    bool isBeingEdited() const { return hasFocus(); }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    Style m_style = Style::rounded;
};
