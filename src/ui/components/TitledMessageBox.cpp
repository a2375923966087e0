#include "ui/components/TitledMessageBox.h"

#include "ui/components/DisplayFormatting.h"

#include <QLabel>
#include <QPushButton>

TitledMessageBox::TitledMessageBox(QMessageBox::Icon icon, const QString &title, const QString &message,
                                   QWidget *parent)
    : QMessageBox(icon, title, title, QMessageBox::NoButton, parent)
{
    setTextFormat(Qt::PlainText);
    setWindowModality(Qt::WindowModal);
    if (auto *titleLabel = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = titleLabel->font();
        bold.setBold(true);
        titleLabel->setFont(bold);
    }
    setMessage(message);
}

QString TitledMessageBox::message() const
{
    return m_message;
}

void TitledMessageBox::setMessage(const QString &message)
{
    m_message = message;
    setAccessibleDescription(message);
    setShownMessage(message);
    if (auto *messageLabel = findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        messageLabel->setAccessibleName(message);
}

void TitledMessageBox::setShownMessage(const QString &shown)
{
    int widestRun = 0;
    setInformativeText(fitForAlert(shown, &widestRun));
    if (auto *messageLabel = findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        // Messages quote service and profile names: never read them as markup.
        messageLabel->setTextFormat(Qt::PlainText);
        // The alert widens for a run that cannot break, which the label
        // would otherwise break anywhere; other messages wrap as Qt lays them out.
        messageLabel->setMinimumWidth(0);
        if (widestRun >= messageLabel->sizeHint().width())
            messageLabel->setMinimumWidth(widestRun + 1);
    }
}

QPushButton *TitledMessageBox::addCancelButton(const QString &label)
{
    QPushButton *cancel = addDefaultButton(label, QMessageBox::RejectRole);
    setEscapeButton(cancel);
    return cancel;
}

QPushButton *TitledMessageBox::addDestructiveButton(const QString &label)
{
    return addButton(label, QMessageBox::DestructiveRole);
}

QPushButton *TitledMessageBox::addDefaultButton(const QString &label, QMessageBox::ButtonRole role)
{
    QPushButton *button = addButton(label, role);
    setDefaultButton(button);
    return button;
}

void TitledMessageBox::showEvent(QShowEvent *event)
{
    QMessageBox::showEvent(event);
    if (QPushButton *initial = defaultButton())
        initial->setFocus(Qt::OtherFocusReason);
}
