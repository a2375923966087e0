#include "ui/menubar/MenuMetricColumn.h"

#include "ui/components/StyledLabel.h"

#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

MenuMetricColumn::MenuMetricColumn(const QString &label, Palette::Color color, QWidget *parent)
    : QWidget(parent),
      m_color(color)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, barHeight + 4);
    layout->setSpacing(4);
    layout->addWidget(new StyledLabel(label, TextStyle::caption2, QFont::DemiBold, ThemeColor::secondary(), this));
    m_value = new StyledLabel(QStringLiteral("—"), TextStyle::callout, QFont::DemiBold, ThemeColor::primary(), this);
    m_value->setTabularDigits(true);
    m_value->setFixedHeight(18);
    layout->addWidget(m_value);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MenuMetricColumn::setReading(const QString &valueText, std::optional<double> fraction, const QString &help)
{
    if (m_value->text() != valueText)
        m_value->setText(valueText);
    if (toolTip() != help)
        setToolTip(help);
    setAccessibleName(help);
    if (m_fraction != fraction) {
        m_fraction = fraction;
        update();
    }
}

QString MenuMetricColumn::valueText() const
{
    return m_value->text();
}

int MenuMetricColumn::fillWidth(std::optional<double> fraction, int barWidth)
{
    if (!fraction || !(*fraction > 0))
        return 0;
    const double clamped = std::min(*fraction, 1.0);
    return std::max(barHeight, int(std::lround(clamped * barWidth)));
}

void MenuMetricColumn::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(m_fraction ? 1.0 : 0.4);
    const QColor color = Palette::color(m_color);
    const QRectF track(0, height() - barHeight, width(), barHeight);
    painter.setBrush(withOpacity(color, 0.22));
    painter.drawRoundedRect(track, barHeight / 2.0, barHeight / 2.0);
    if (const int fill = fillWidth(m_fraction, width()); fill > 0) {
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(track.left(), track.top(), fill, barHeight), barHeight / 2.0, barHeight / 2.0);
    }
}
