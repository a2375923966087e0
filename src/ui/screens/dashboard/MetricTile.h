#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

// One machine figure: a circular gauge beside its title, value and subtitle.
class MetricTile final : public QWidget {
    Q_OBJECT
public:
    MetricTile(const QString &title, const QString &symbolName, QColor tint, QWidget *parent = nullptr);

    // Touches only what changed.
    void setValue(const QString &valueText, double progress, const QString &subtitle = QString());
    QString valueText() const;
    QString subtitle() const;
    double progress() const { return m_progress; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    class Gauge;

    QColor m_tint;
    double m_progress = 0;
    Gauge *m_gauge;
    QLabel *m_value;
    QLabel *m_subtitle;
};
