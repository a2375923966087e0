#pragma once

#include <QFileDialog>

// An open dialog that picks one existing file or one folder: accepting while a
// folder is selected takes that folder instead of entering it.
class PathPickerDialog final : public QFileDialog {
    Q_OBJECT
public:
    explicit PathPickerDialog(QWidget *parent = nullptr);

Q_SIGNALS:
    void pathPicked(const QString &path);

public Q_SLOTS:
    void accept() override;
};
