#include "ui/components/StyledLabel.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/ThemeManager.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

StyledLabel::StyledLabel(const QString &text, TextStyle style, QWidget *parent)
    : QLabel(parent),
      m_style(style)
{
    setTextFormat(Qt::PlainText);
    setText(text);
    applyFont();
    connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, this, &StyledLabel::applyColor);
}

StyledLabel::StyledLabel(const QString &text, TextStyle style, QFont::Weight weight, ThemeColor color, QWidget *parent)
    : StyledLabel(text, style, parent)
{
    m_weight = weight;
    applyFont();
    setColor(color);
}

void StyledLabel::setTextStyle(TextStyle style, QFont::Weight weight)
{
    m_style = style;
    m_weight = weight;
    applyFont();
}

void StyledLabel::setTextStyle(TextStyle style)
{
    m_style = style;
    m_weight.reset();
    applyFont();
}

void StyledLabel::setMonospaced(bool monospaced)
{
    m_monospaced = monospaced;
    applyFont();
}

void StyledLabel::setTabularDigits(bool tabular)
{
    m_tabularDigits = tabular;
    applyFont();
}

void StyledLabel::applyFont()
{
    if (m_monospaced)
        setFont(monospacedFont(m_style, m_weight.value_or(QFont::Normal)));
    else if (m_tabularDigits)
        setFont(tabularDigitsFont(m_weight ? textStyleFont(m_style, *m_weight) : textStyleFont(m_style)));
    else
        setFont(m_weight ? textStyleFont(m_style, *m_weight) : textStyleFont(m_style));
    applyLineLimit();
}

void StyledLabel::setColor(ThemeColor color)
{
    m_color = color;
    applyColor();
}

QColor StyledLabel::resolvedColor() const
{
    return palette().color(QPalette::WindowText);
}

QColor StyledLabel::inheritedForeground() const
{
    // The nearest ancestor that sets its own text colour (a selected row) gives
    // it; otherwise the application's. Read directly, since the palettes of
    // the ancestors catch up with an application palette change only later.
    for (const QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (w->testAttribute(Qt::WA_SetPalette) && w->palette().isBrushSet(QPalette::Active, QPalette::WindowText))
            return w->palette().color(QPalette::WindowText);
    }
    return QApplication::palette().color(QPalette::WindowText);
}

void StyledLabel::applyColor()
{
    if (m_applyingColor)
        return;
    m_applyingColor = true;
    if (m_color.role() == ThemeColor::Role::primary) {
        // Inherit the surrounding text colour as it is.
        if (testAttribute(Qt::WA_SetPalette))
            setPalette(QPalette());
    } else {
        const QColor foreground = inheritedForeground();
        QColor wanted = m_color.resolve(foreground);
        // An accent (green "No findings", red warnings) in the shade that reads on every surface.
        if (m_color.role() == ThemeColor::Role::accent)
            wanted = ColorContrast::legibleVariant(wanted, ThemeColor::opaqueSurfaces());
        if (!testAttribute(Qt::WA_SetPalette) || palette().color(QPalette::WindowText) != wanted) {
            QPalette own;
            own.setColor(QPalette::WindowText, wanted);
            own.setColor(QPalette::Text, wanted);
            setPalette(own);
        }
    }
    m_applyingColor = false;
}

void StyledLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyColor();
}

void StyledLabel::setElideMode(Qt::TextElideMode mode)
{
    m_elideMode = mode;
    if (mode != Qt::ElideNone)
        setWordWrap(false);
    updateGeometry();
    update();
}

void StyledLabel::setMaximumLineCount(int lines)
{
    m_maximumLines = lines;
    applyLineLimit();
}

void StyledLabel::applyLineLimit()
{
    if (m_maximumLines <= 0)
        return;
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    setMaximumHeight(metrics.lineSpacing() * m_maximumLines + margins.top() + margins.bottom() + 1);
}

bool StyledLabel::wrapsAnywhere() const
{
    return wordWrap() && m_elideMode == Qt::ElideNone && textFormat() == Qt::PlainText && !buddy()
           && !(textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard));
}

void StyledLabel::layOutAnywhere(QTextLayout &layout, int width) const
{
    QString shown = text();
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(font());
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
}

int StyledLabel::heightForWidth(int width) const
{
    if (!wrapsAnywhere())
        return QLabel::heightForWidth(width);
    if (width != m_measuredWidth || text() != m_measuredText) {
        const QMargins margins = contentsMargins();
        QTextLayout layout;
        layOutAnywhere(layout, width - margins.left() - margins.right());
        const int lines = int(std::ceil(layout.boundingRect().height()));
        m_measuredHeight = std::max(lines, fontMetrics().height()) + margins.top() + margins.bottom();
        m_measuredWidth = width;
        m_measuredText = text();
    }
    return m_measuredHeight;
}

QSize StyledLabel::minimumSizeHint() const
{
    if (wrapsAnywhere()) {
        // A few characters wide at the least; the rest wraps.
        const QSize hint = QLabel::minimumSizeHint();
        const QMargins margins = contentsMargins();
        const int narrow = fontMetrics().averageCharWidth() * 8 + margins.left() + margins.right();
        const int width = std::min(hint.width(), narrow);
        return {width, std::min(hint.height(), heightForWidth(width))};
    }
    if (m_elideMode == Qt::ElideNone)
        return QLabel::minimumSizeHint();
    const QSize hint = QLabel::minimumSizeHint();
    const QFontMetrics metrics(font());
    return {qMin(hint.width(), metrics.horizontalAdvance(QStringLiteral("\u2026")) * 3), hint.height()};
}

QSize StyledLabel::sizeHint() const
{
    return QLabel::sizeHint();
}

void StyledLabel::paintEvent(QPaintEvent *event)
{
    if (wrapsAnywhere()) {
        const QRect area = contentsRect();
        QTextLayout layout;
        layOutAnywhere(layout, area.width());
        const qreal height = layout.boundingRect().height();
        qreal top = area.top();
        if (alignment() & Qt::AlignVCenter)
            top += std::max(0.0, (area.height() - height) / 2);
        else if (alignment() & Qt::AlignBottom)
            top += std::max(0.0, area.height() - height);
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        layout.draw(&painter, QPointF(area.left(), top));
        return;
    }
    if (m_elideMode == Qt::ElideNone) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), m_elideMode, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}
