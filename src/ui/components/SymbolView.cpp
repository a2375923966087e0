#include "ui/components/SymbolView.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/SymbolIcon.h"

#include <QPainter>

SymbolView::SymbolView(const QString &symbolName, int symbolSize, ThemeColor color, QWidget *parent)
    : QWidget(parent),
      m_symbolName(symbolName),
      m_symbolSize(symbolSize),
      m_boxSize(symbolSize, symbolSize),
      m_color(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setSymbolName(const QString &name)
{
    if (name == m_symbolName)
        return;
    m_symbolName = name;
    update();
}

void SymbolView::setColor(ThemeColor color)
{
    m_color = color;
    update();
}

void SymbolView::setMinimumContrast(qreal ratio)
{
    m_minimumContrast = ratio;
    update();
}

void SymbolView::setSymbolSize(int size)
{
    m_symbolSize = size;
    m_boxSize = m_boxSize.expandedTo(QSize(size, size));
    updateGeometry();
    update();
}

void SymbolView::setBoxSize(QSize size)
{
    m_boxSize = size;
    updateGeometry();
    update();
}

QSize SymbolView::sizeHint() const
{
    return m_boxSize;
}

void SymbolView::paintEvent(QPaintEvent *)
{
    if (m_symbolName.isEmpty())
        return;
    QPainter painter(this);
    QColor color = m_color.resolve(this);
    if (m_minimumContrast > 1)
        color = ColorContrast::legibleVariant(color, ThemeColor::opaqueSurfaces(), m_minimumContrast);
    const QPixmap pixmap = symbolPixmap(m_symbolName, m_symbolSize, color, devicePixelRatioF());
    const QPoint origin((width() - m_symbolSize) / 2, (height() - m_symbolSize) / 2);
    if (!isEnabled())
        painter.setOpacity(0.5);
    painter.drawPixmap(origin, pixmap);
}
