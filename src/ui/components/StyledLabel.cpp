#include "ui/components/StyledLabel.h"

#include "ui/components/ThemeManager.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

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

void StyledLabel::applyFont()
{
    if (m_monospaced)
        setFont(monospacedFont(m_style, m_weight.value_or(QFont::Normal)));
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
        const QColor wanted = m_color.resolve(foreground);
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

QSize StyledLabel::minimumSizeHint() const
{
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
    if (m_elideMode == Qt::ElideNone) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), m_elideMode, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}
