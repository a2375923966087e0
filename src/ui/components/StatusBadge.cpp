#include "ui/components/StatusBadge.h"

#include "ui/components/TextStyle.h"

#include <QPainter>

namespace {
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 5;
constexpr int dotSize = 6;
constexpr int dotSpacing = 5;

QFont badgeFont()
{
    return textStyleFont(TextStyle::caption, QFont::DemiBold);
}
} // namespace

StatusBadge::StatusBadge(const QString &text, ThemeColor color, QWidget *parent)
    : QWidget(parent),
      m_text(text),
      m_color(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void StatusBadge::setState(const QString &text, ThemeColor color)
{
    if (text == m_text && color == m_color)
        return;
    const bool resized = text != m_text;
    m_text = text;
    m_color = color;
    setAccessibleName(text);
    if (resized)
        updateGeometry();
    update();
}

QSize StatusBadge::sizeHint() const
{
    const QFontMetrics metrics(badgeFont());
    return {horizontalPadding * 2 + dotSize + dotSpacing + metrics.horizontalAdvance(m_text),
            verticalPadding * 2 + metrics.height()};
}

void StatusBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = m_color.resolve(this);
    const QRectF capsule = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(color, 0.14));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(horizontalPadding, (height() - dotSize) / 2.0, dotSize, dotSize));
    painter.setPen(color);
    painter.setFont(badgeFont());
    const QRect textArea(horizontalPadding + dotSize + dotSpacing, 0,
                         width() - horizontalPadding * 2 - dotSize - dotSpacing, height());
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft, m_text);
}
