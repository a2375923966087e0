#pragma once

#include "ui/components/InitialFocusControl.h"

#include <QLineEdit>

// A masked, monospaced single-line input (passwords). With focusOnAppear it
// takes the focus once, when first shown; Return or Enter emits committed()
// and goes no further (a dialog's default button does not fire too):
//     auto *password = new MacSecureField(QStringLiteral("Password"), false, true);
//     connect(password, &MacSecureField::committed, sheet, &SudoSheet::submit);
class MacSecureField : public QLineEdit, public InitialFocusControl {
    Q_OBJECT
public:
    explicit MacSecureField(const QString &placeholder = QString(), bool allowsAutomaticFocus = false,
                            bool focusOnAppear = false, QWidget *parent = nullptr);

    void setBoundText(const QString &text);
    bool focusOnAppear() const { return m_focusOnAppear; }
    bool didFocus() const { return m_didFocus; }

Q_SIGNALS:
    void committed();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void focusIfNeeded();

    bool m_focusOnAppear;
    bool m_didFocus = false;
};
