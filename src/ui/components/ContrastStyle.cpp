#include "ui/components/ContrastStyle.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/FocusMark.h"
#include "ui/components/ThemeColor.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTextEdit>

ContrastStyle::ContrastStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{}

QColor ContrastStyle::checkBoxBorderColor(const QPalette &palette)
{
    return ThemeColor::tertiary().resolve(palette.color(QPalette::Active, QPalette::WindowText));
}

QColor ContrastStyle::controlEdgeColor(const QPalette &palette)
{
    // Fusion's button face (a combo box's inside) is lighter than the palette's button colour.
    QStyleOptionButton face;
    face.palette = palette;
    face.state = State_Enabled | State_Raised | State_Active;
    face.rect = QRect(0, 0, 40, 24);
    QImage picture(face.rect.size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(palette.color(QPalette::Window));
    QPainter painter(&picture);
    QApplication::style()->drawPrimitive(PE_PanelButtonCommand, &face, &painter);
    painter.end();
    QList<QColor> surfaces = ThemeColor::opaqueSurfaces();
    surfaces << palette.color(QPalette::Window) << palette.color(QPalette::Base) << picture.pixelColor(20, 3)
             << picture.pixelColor(20, 20);
    return ColorContrast::legibleVariant(palette.color(QPalette::Mid), surfaces, ColorContrast::markMinimum);
}

void ContrastStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                       const QWidget *widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    const auto *combo = qstyleoption_cast<const QStyleOptionComboBox *>(option);
    if (control != CC_ComboBox || !combo || !(option->state & State_Enabled))
        return;
    if (option->state & State_HasFocus) {
        // Fusion's focus is a 1 px tint of the edge, too faint to find.
        paintFocusMark(*painter, QRectF(option->rect), 3, widget);
        return;
    }
    if (combo->editable)
        return;
    // Over Fusion's faint outline, on the same rounded rectangle.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(controlEdgeColor(option->palette), 1));
    painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter->restore();
}

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const bool enabled = option->state & State_Enabled;
    if (element == PE_FrameFocusRect && enabled) {
        paintFocusMark(*painter, QRectF(option->rect), 3, widget);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool focused = enabled && (option->state & State_HasFocus);
    const auto *area = qobject_cast<const QTextEdit *>(widget);
    const bool textArea = element == PE_Frame && area && !area->isReadOnly();
    if (focused && (element == PE_FrameLineEdit || textArea)) {
        // Fusion marks a focused field with a 1 px tint of its edge only.
        paintFocusMark(*painter, QRectF(option->rect), element == PE_FrameLineEdit ? 3 : 0, widget);
        return;
    }
    if (element == PE_FrameLineEdit && enabled) {
        // An idle field gets an edge that shows.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(controlEdgeColor(option->palette), 1));
        painter->translate(0.5, 0.5);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0, 0, -1, -1), 2, 2);
        painter->restore();
    }
    if (textArea && enabled) {
        // A multi-line text field: Fusion's square frame, in the edge colour.
        painter->save();
        painter->setPen(QPen(controlEdgeColor(option->palette), 1));
        painter->setBrush(option->palette.color(QPalette::Base)); // under the viewport's margin
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
    if (element == PE_IndicatorCheckBox && enabled) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(checkBoxBorderColor(option->palette), 1));
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
}

void ContrastStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                const QWidget *widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    // Focus that came by keyboard, as Fusion marks it; a click leaves no ring.
    const State focused = State_HasFocus | State_KeyboardFocusChange | State_Enabled;
    if (element == CE_PushButton && (option->state & focused) == focused)
        paintFocusMark(*painter, QRectF(option->rect), 3, widget);
}
