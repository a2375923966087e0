#include "ui/components/StatusBadge.h"

#include "ui/components/ColorContrast.h"
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
    return capsuleSize(m_text);
}

QSize StatusBadge::capsuleSize(const QString &text)
{
    const QFontMetrics metrics(badgeFont());
    return {horizontalPadding * 2 + dotSize + dotSpacing + metrics.horizontalAdvance(text),
            verticalPadding * 2 + metrics.height()};
}

void StatusBadge::paintCapsule(QPainter &painter, const QRectF &capsule, const QString &text, const QColor &color,
                               const QList<QColor> &backdrops)
{
    const QColor fill = withOpacity(color, 0.14);
    QList<QColor> fills;
    for (const QColor &backdrop : backdrops.isEmpty() ? ThemeColor::opaqueSurfaces() : backdrops)
        fills << ColorContrast::compositedOver(fill, backdrop);
    const QColor shown = ColorContrast::legibleVariant(ColorContrast::compositedOver(color, fills.first()), fills,
                                                       ColorContrast::textTarget);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    painter.setBrush(shown);
    painter.drawEllipse(
        QRectF(capsule.left() + horizontalPadding, capsule.center().y() - dotSize / 2.0, dotSize, dotSize));
    painter.setPen(shown);
    painter.setFont(badgeFont());
    const QRectF textArea(capsule.left() + horizontalPadding + dotSize + dotSpacing, capsule.top(),
                          capsule.width() - horizontalPadding * 2 - dotSize - dotSpacing, capsule.height());
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft, text);
    painter.restore();
}

void StatusBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintCapsule(painter, QRectF(rect()), m_text, m_color.resolve(this));
}
