#pragma once

#include "ui/components/SurfaceCard.h"
#include "ui/components/ThemeColor.h"

class NumericTextTransition;
class StyledLabel;

// One machine figure on a card: a circular gauge beside its title, value and
// subtitle.
class MetricTile final : public SurfaceCard {
    Q_OBJECT
public:
    MetricTile(const QString &title, const QString &symbolName, ThemeColor tint, QWidget *parent = nullptr);

    // Touches only what changed.
    void setValue(const QString &valueText, double progress, const QString &subtitle = QString());
    QString valueText() const;
    QString subtitle() const;
    double progress() const { return m_progress; }

private:
    class Gauge;

    double m_progress = 0;
    Gauge *m_gauge;
    StyledLabel *m_value;
    NumericTextTransition *m_valueTransition = nullptr;
    StyledLabel *m_subtitle;
};
