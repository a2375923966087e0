#pragma once

#include "ui/components/InitialFocusControl.h"

#include <QLineEdit>

// A single-line text input. It takes no focus by itself (unless allowed), see
// InitialFocusControl. textEdited fires on every keystroke; a screen that
// changes the text from elsewhere calls setBoundText, which leaves the field
// alone while the user edits it:
//     auto *name = new MacTextField(QStringLiteral("Name"), MacTextField::Style::rounded);
//     connect(name, &QLineEdit::textEdited, controller, &Controller::setName);
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
