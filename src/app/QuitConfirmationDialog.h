#pragma once

#include <QMessageBox>

// "Quit Velmora?" with the number of running services that quitting ends.
// Answers exactly once: true for the quit button, false for "Cancel", Escape
// or closing the dialog.
class QuitConfirmationDialog final : public QMessageBox {
    Q_OBJECT

public:
    QuitConfirmationDialog(int runningCount, QWidget *parent);

    QAbstractButton *quitButton() const { return m_quitButton; }
    QAbstractButton *cancelButton() const { return m_cancelButton; }

Q_SIGNALS:
    void answered(bool quit);

private:
    void answer(bool quit);

    QAbstractButton *m_quitButton;
    QAbstractButton *m_cancelButton;
    bool m_answered = false;
};
