#pragma once

#include "records/ServiceRunRecord.h"

#include <QDialog>

class QCheckBox;
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
    bool autoScroll() const;

private:
    void copyOutput();

    ServiceRunRecord m_record;
    ConsoleOutputView *m_console = nullptr;
    QCheckBox *m_autoScroll = nullptr;
    QPushButton *m_copyButton = nullptr;
};
