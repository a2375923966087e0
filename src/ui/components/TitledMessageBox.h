#pragma once

#include <QMessageBox>

class QPushButton;

// An alert or confirmation that states its title in its body, in bold above
// the message: many window managers draw no title bar on dialogs, and a
// question that lives only there is never seen. A destructive confirmation
// adds its "Cancel" with addCancelButton(), so that Return and Escape both
// cancel and the focus starts on "Cancel"; the destructive action then takes
// a deliberate Tab or click. The message is drawn as fitForAlert shows it
// (a name too long for a line shortened in the middle); a screen reader hears
// it whole, as the box's description.
class TitledMessageBox final : public QMessageBox {
    Q_OBJECT

public:
    TitledMessageBox(QMessageBox::Icon icon, const QString &title, const QString &message, QWidget *parent);

    QString title() const { return text(); }
    QString message() const;
    void setMessage(const QString &message);
    // Draws `shown` in place of the message, which a screen reader still
    // hears whole: for a message whose names are shortened for the eye.
    // Until the next setMessage.
    void setShownMessage(const QString &shown);

    QPushButton *addCancelButton(const QString &label = QStringLiteral("Cancel"));
    QPushButton *addDestructiveButton(const QString &label);
    // A button that is both the answer to Return and the initial focus.
    QPushButton *addDefaultButton(const QString &label, QMessageBox::ButtonRole role);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString m_message;
};
