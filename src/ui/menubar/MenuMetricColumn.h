#pragma once

#include "ui/components/Palette.h"

#include <QWidget>

#include <optional>

class StyledLabel;

// One load figure of the panel: its label, its value and a thin bar filled to
// the fraction, dimmed when there is no reading.
class MenuMetricColumn : public QWidget {
    Q_OBJECT
public:
    MenuMetricColumn(const QString &label, Palette::Color color, QWidget *parent = nullptr);

    // No fraction: no reading (the value reads "—" and the bar is dimmed).
    void setReading(const QString &valueText, std::optional<double> fraction, const QString &help);
    QString valueText() const;
    // The fill's width in a bar `barWidth` wide; 0 when nothing is filled.
    static int fillWidth(std::optional<double> fraction, int barWidth);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    StyledLabel *m_value;
    Palette::Color m_color;
    std::optional<double> m_fraction;
    static constexpr int barHeight = 5;
};
