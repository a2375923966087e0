#include "ui/menubar/MenuToggleGlyphButton.h"

#include "ui/components/FocusMark.h"
#include "ui/components/Palette.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"

#include <QPainter>

MenuToggleGlyphButton::MenuToggleGlyphButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setFixedSize(22, 22);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setRunning(false);
}

void MenuToggleGlyphButton::setRunning(bool running)
{
    if (m_running == running && !toolTip().isEmpty())
        return;
    m_running = running;
    const QString text = running ? QStringLiteral("Stop") : QStringLiteral("Start");
    setToolTip(text);
    updateAccessibleName();
    setProperty(symbolNameProperty, symbolName());
    update();
}

void MenuToggleGlyphButton::setServiceName(const QString &name)
{
    if (m_serviceName == name)
        return;
    m_serviceName = name;
    updateAccessibleName();
}

void MenuToggleGlyphButton::updateAccessibleName()
{
    // A screen reader lists the panel's buttons apart from their rows: each
    // says whose it is.
    const QString name = m_serviceName.isEmpty() ? toolTip() : toolTip() + QLatin1Char(' ') + m_serviceName;
    if (accessibleName() != name)
        setAccessibleName(name);
}

QString MenuToggleGlyphButton::symbolName() const
{
    return m_running ? QStringLiteral("stop.fill") : QStringLiteral("play.fill");
}

void MenuToggleGlyphButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = m_running ? Palette::red() : Palette::green();
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(color, isDown() ? 0.24 : 0.12));
    painter.drawRoundedRect(QRectF(rect()), 6, 6);
    const int size = symbolPixelSize(TextStyle::caption2);
    const QPixmap glyph = symbolPixmap(symbolName(), size, color, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - size) / 2.0, (height() - size) / 2.0), glyph);
    if (hasFocus())
        paintFocusMark(painter, QRectF(rect()), 6, this);
}
