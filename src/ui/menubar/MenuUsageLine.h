#pragma once

#include "records/ServiceRuntimeInfo.h"

#include <QWidget>

class LabeledValueText;

// "PID 123  CPU 1.5%  RAM 12.3 MB  Up 1m 5s" for a running service; the Up
// pair goes first when the row is too narrow for all four.
class MenuUsageLine : public QWidget {
    Q_OBJECT
public:
    explicit MenuUsageLine(QWidget *parent = nullptr);

    void setRuntime(const ServiceRuntimeInfo &runtime);
    bool showsUptime() const;
    QString pairValue(int index) const;

    // "PID 123 · CPU 1.5% · RAM 12.3 MB · 1m 5s", the row's tooltip.
    static QString details(const ServiceRuntimeInfo &runtime);
    static QString pidText(const ServiceRuntimeInfo &runtime);
    static QString cpuText(double percent);
    static QString uptimeText(const ServiceRuntimeInfo &runtime);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void chooseLayout();

    LabeledValueText *m_pairs[4];
};
