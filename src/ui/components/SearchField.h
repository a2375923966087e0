#pragma once

#include <QWidget>

class MacTextField;
class QToolButton;

// The rounded search box above a list: a magnifying glass, the text field and
// a clear button, on the text background outlined in the separator colour.
// The owner connects the field and the button to its controller.
class SearchField final : public QWidget {
    Q_OBJECT
public:
    explicit SearchField(const QString &placeholder, QWidget *parent = nullptr);

    MacTextField *textField() const { return m_text; }
    QToolButton *clearButton() const { return m_clear; }
    // Shows the controller's text (leaving the field alone when it already
    // holds it, so the cursor stays) and the clear button while there is text.
    void showText(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MacTextField *m_text;
    QToolButton *m_clear;
};
