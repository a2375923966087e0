#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator in the secondary text colour: an
// arc that turns for a second after each turn() and otherwise rests, so that
// something busy but quiet (a running service that prints nothing) costs no
// redraws at all.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int diameter = 14, QWidget *parent = nullptr);

    // Work went on: turn for another second.
    void turn();

protected:
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
    int m_turnsLeft = 0;
};
