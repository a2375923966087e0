#include "app/QuitConfirmationDialog.h"

#include "ui/components/DisplayFormatting.h"

#include <QPushButton>

QuitConfirmationDialog::QuitConfirmationDialog(int runningCount, QWidget *parent)
    : QMessageBox(parent)
{
    setWindowTitle(QStringLiteral("Quit Velmora?"));
    setText(QStringLiteral("Quit Velmora?"));
    setIcon(QMessageBox::Warning);
    setWindowModality(Qt::WindowModal);
    if (const auto warning = runningServicesQuitWarning(runningCount))
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
