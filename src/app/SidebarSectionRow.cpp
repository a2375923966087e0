#include "app/SidebarSectionRow.h"

#include "app/InterimPalette.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 7;
constexpr int symbolSize = 16;
constexpr int iconGap = 8;
constexpr qreal cornerRadius = 8;

// Theme symbols come in one dark grey; the row draws them in its accent so
// they read in light and dark alike.
QPixmap tintedSymbol(const QIcon &icon, const QColor &colour, qreal ratio)
{
    QPixmap symbol = icon.pixmap(QSize(symbolSize, symbolSize), ratio);
    if (symbol.isNull())
        return symbol;
    QPainter tint(&symbol);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(symbol.rect(), colour);
    return symbol;
}
} // namespace

SidebarSectionRow::SidebarSectionRow(const QIcon &icon, const QString &text, QWidget *parent) : QAbstractButton(parent)
{
    setIcon(icon);
    setText(text);
    setAccessibleName(text);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void SidebarSectionRow::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    setAccessibleDescription(selected ? QStringLiteral("Selected") : QString());
    update();
}

QSize SidebarSectionRow::sizeHint() const
{
    const int textHeight = fontMetrics().height();
    return {horizontalPadding * 2 + symbolSize + iconGap + fontMetrics().horizontalAdvance(text()),
            std::max(textHeight, symbolSize) + verticalPadding * 2};
}

void SidebarSectionRow::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SidebarSectionRow::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void SidebarSectionRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = interimSlate(*this);
    qreal opacity = 0;
    if (isDown())
        opacity = 0.18;
    else if (m_selected)
        opacity = 0.12;
    else if (m_hovered)
        opacity = 0.06;
    if (opacity > 0) {
        fill.setAlphaF(float(opacity));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        painter.fillPath(shape, fill);
    }
    if (hasFocus()) {
        QPen focus(palette().color(QPalette::Highlight), 1.5);
        painter.setPen(focus);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), cornerRadius, cornerRadius);
    }
    const int iconTop = (height() - symbolSize) / 2;
    painter.drawPixmap(horizontalPadding, iconTop, tintedSymbol(icon(), interimSlate(*this), devicePixelRatioF()));
    const QRect textArea(horizontalPadding + symbolSize + iconGap, 0,
                         width() - horizontalPadding * 2 - symbolSize - iconGap, height());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideRight, textArea.width()));
}
