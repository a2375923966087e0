#pragma once

#include "records/ServiceRunRecord.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

class ConsoleOutputView;

// A window-modal sheet with one run's captured output, its outcome badge, an
// "Auto-scroll" switch, "Copy" and "Close". Auto-scroll starts on with every sheet.
class ServiceRunOutputSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 720;
    static constexpr int sheetHeight = 500;

    explicit ServiceRunOutputSheet(const ServiceRunRecord &record, QWidget *parent = nullptr);

    const ServiceRunRecord &record() const { return m_record; }
    // The run's output, for a record that no longer holds it; until then the
    // console is empty and "Copy" disabled.
    void setOutput(const QString &output);
    // Shown in place of the console when the output cannot be read.
    void showReadFailure(const QString &message);
    const QString &output() const { return m_output; }
    bool autoScroll() const;

private:
    void copyOutput();

    ServiceRunRecord m_record;
    QString m_output;
    QLabel *m_failure = nullptr;
    ConsoleOutputView *m_console = nullptr;
    QCheckBox *m_autoScroll = nullptr;
    QPushButton *m_copyButton = nullptr;
};
