#pragma once

#include "ui/components/InitialFocusControl.h"

#include <QTextEdit>

// A multi-line plain-text input in a monospaced font (commands). At least
// `minHeight` tall and 300 wide unless laid out otherwise. textEdited fires on
// every user change; setBoundText leaves the text alone while the field has
// the focus:
//     auto *command = new MacMultilineTextField(90);
//     connect(command, &MacMultilineTextField::textEdited, controller, &Controller::setCommand);
class MacMultilineTextField : public QTextEdit, public InitialFocusControl {
    Q_OBJECT
public:
    explicit MacMultilineTextField(int minHeight = 80, bool allowsAutomaticFocus = false, QWidget *parent = nullptr);

    void setBoundText(const QString &text);
    QString text() const { return toPlainText(); }
    int minHeight() const { return m_minHeight; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void textEdited(const QString &text);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int m_minHeight;
    bool m_settingText = false;
};
