#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator: a turning arc in the secondary
// text colour. It redraws ten times a second and only while shown, so a
// running service costs little.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int diameter = 14, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
};
