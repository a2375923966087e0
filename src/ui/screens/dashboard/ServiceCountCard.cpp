#include "ui/screens/dashboard/ServiceCountCard.h"

#include "ui/screens/ScreenStyle.h"

#include <QPainter>
#include <QPainterPath>

using namespace ScreenStyle;

ServiceCountCard::ServiceCountCard(const QString &title, QColor tint, QWidget *parent)
    : QAbstractButton(parent), m_title(title), m_tint(tint)
{
    setText(title);
    setAccessibleName(title);
    setProperty("symbolName", QStringLiteral("chevron.right"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void ServiceCountCard::setCount(int count)
{
    if (count == m_count)
        return;
    m_count = count;
    setAccessibleDescription(QString::number(count));
    update();
}

void ServiceCountCard::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

void ServiceCountCard::setTint(QColor tint)
{
    m_tint = tint;
    update();
}

QSize ServiceCountCard::sizeHint() const
{
    return {160, 84};
}

void ServiceCountCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.78);
    QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isDown())
        card = card.adjusted(card.width() * 0.0075, card.height() * 0.0075, -card.width() * 0.0075,
                             -card.height() * 0.0075);
    QPainterPath path;
    path.addRoundedRect(card, 14, 14);
    QColor fill = m_tint;
    fill.setAlphaF(m_highlighted ? 0.18f : 0.08f);
    painter.fillPath(path, palette().color(QPalette::Base));
    painter.fillPath(path, fill);
    QColor outline = m_tint;
    outline.setAlphaF(m_highlighted ? 0.8f : 0.25f);
    painter.setPen(QPen(outline, m_highlighted ? 1.5 : 1));
    painter.drawPath(path);
    if (hasFocus()) {
        QColor focus = palette().color(QPalette::Highlight);
        painter.setPen(QPen(focus, 2));
        painter.drawRoundedRect(card.adjusted(1, 1, -1, -1), 13, 13);
    }

    const QRectF content = card.adjusted(16, 12, -16, -12);
    painter.setPen(m_tint);
    painter.setFont(ScreenStyle::font(TextStyle::subheadline, QFont::DemiBold));
    painter.drawText(content, Qt::AlignLeft | Qt::AlignTop, m_title);
    QFont countFont = monospaced(TextStyle::title, QFont::Bold);
    painter.setFont(countFont);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(content, Qt::AlignLeft | Qt::AlignBottom, QString::number(m_count));
    const QRectF chevron(content.right() - 14, content.center().y() - 7, 14, 14);
    symbol(QStringLiteral("chevron.right"), tertiaryText()).paint(&painter, chevron.toRect());
}
