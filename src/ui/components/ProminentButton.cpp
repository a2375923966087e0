#include "ui/components/ProminentButton.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/ThemeColor.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

constexpr int horizontalPadding = 12;
constexpr int minimumVerticalPadding = 3;
constexpr int symbolSize = 14;
constexpr int symbolGap = 5;

} // namespace

ProminentButton::ProminentButton(const QString &text, Palette::Color tint, QWidget *parent)
    : QPushButton(text, parent),
      m_tint(tint)
{
    setCursor(Qt::PointingHandCursor);
}

void ProminentButton::setSymbolName(const QString &symbolName)
{
    m_symbolName = symbolName;
    setProperty(symbolNameProperty, symbolName);
    updateGeometry();
    update();
}

QSize ProminentButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int symbolWidth = m_symbolName.isEmpty() ? 0 : symbolSize + symbolGap;
    // As tall as the style's own buttons, so a row mixing both stays even.
    const int styleHeight = QPushButton::sizeHint().height();
    return {metrics.horizontalAdvance(text()) + symbolWidth + 2 * horizontalPadding,
            std::max(styleHeight, metrics.height() + 2 * minimumVerticalPadding)};
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Palette::color(m_tint);
    if (isDown())
        fill = fill.darker(115);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    QColor textColor;
    if (isEnabled()) {
        painter.fillPath(shape, fill);
        textColor = ColorContrast::legibleTextOn(fill);
    } else {
        // Disabled, it gives up its tint for the neutral face and dimmed text
        // of the other disabled buttons: a paler tint still looked pressable.
        painter.fillPath(shape, palette().color(QPalette::Disabled, QPalette::Button));
        painter.setPen(QPen(ThemeColor::separator().resolve(this), 1));
        painter.drawPath(shape);
        textColor = palette().color(QPalette::Disabled, QPalette::ButtonText);
    }
    if (hasFocus()) {
        // Inside the fill, in the text's colour: a ring in the tint itself
        // would not set a focused button apart from the others.
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(3, 3, -3, -3), 4, 4);
        painter.setPen(QPen(textColor, 2));
        painter.drawPath(ring);
    }
    painter.setPen(textColor);
    painter.setFont(font());
    if (m_symbolName.isEmpty()) {
        painter.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    // Symbol and text centred together.
    const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
    const int left = (width() - (symbolSize + symbolGap + textWidth)) / 2;
    painter.drawPixmap(left, (height() - symbolSize) / 2,
                       symbolPixmap(m_symbolName, symbolSize, textColor, devicePixelRatioF()));
    painter.drawText(QRect(left + symbolSize + symbolGap, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}
