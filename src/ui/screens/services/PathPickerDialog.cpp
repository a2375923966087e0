#include "ui/screens/services/PathPickerDialog.h"

#include <QFileInfo>

PathPickerDialog::PathPickerDialog(QWidget *parent)
    : QFileDialog(parent)
{
    // Only Qt's own dialog lets accept() see a folder before it is entered.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowModality(Qt::WindowModal);
    connect(this, &QFileDialog::fileSelected, this, &PathPickerDialog::pathPicked);
}

void PathPickerDialog::accept()
{
    const QStringList selected = selectedFiles();
    if (selected.size() == 1 && QFileInfo(selected.first()).isDir()) {
        const QString &folder = selected.first();
        // QFileDialog::accept() would enter the folder instead of closing on it.
        QDialog::accept(); // NOLINT(bugprone-parent-virtual-call): skipping it is the point

        Q_EMIT pathPicked(folder);
        return;
    }
    QFileDialog::accept();
}
