#include "app/QuitConfirmationDialog.h"

#include <QPushButton>

std::optional<QString> interimRunningServicesQuitWarning(int count)
{
    if (count < 1)
        return std::nullopt;
    return QStringLiteral("All ") + QString::number(count) + QStringLiteral(" running service") +
           (count == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" will be terminated.");
}

QuitConfirmationDialog::QuitConfirmationDialog(int runningCount, QWidget *parent) : QMessageBox(parent)
{
    setWindowTitle(QStringLiteral("Quit Velmora?"));
    setText(QStringLiteral("Quit Velmora?"));
    setIcon(QMessageBox::Warning);
    setWindowModality(Qt::WindowModal);
    if (const auto warning = interimRunningServicesQuitWarning(runningCount))
        setInformativeText(*warning);
    m_quitButton = addButton(runningCount >= 1 ? QStringLiteral("Quit && Terminate") : QStringLiteral("Quit"),
                             QMessageBox::DestructiveRole);
    m_cancelButton = addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    setDefaultButton(qobject_cast<QPushButton *>(m_cancelButton));
    setEscapeButton(m_cancelButton);
    connect(this, &QMessageBox::buttonClicked, this,
            [this](QAbstractButton *button) { answer(button == m_quitButton); });
    connect(this, &QDialog::finished, this, [this] { answer(clickedButton() == m_quitButton); });
}

void QuitConfirmationDialog::answer(bool quit)
{
    if (m_answered)
        return;
    m_answered = true;
    Q_EMIT answered(quit);
}
