#include "ui/components/ButtonTextTint.h"

#include "ui/components/ColorContrast.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

QList<QColor> buttonFaceColors(const QAbstractButton *button)
{
    const auto *push = qobject_cast<const QPushButton *>(button);
    if (!push || push->isFlat())
        return {button->palette().color(QPalette::Active, QPalette::Window)};
    QStyleOptionButton option;
    option.initFrom(button);
    option.state = QStyle::State_Enabled | QStyle::State_Raised | QStyle::State_Active;
    option.rect = QRect(0, 0, 60, 28);
    QImage face(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    face.fill(button->palette().color(QPalette::Active, QPalette::Window));
    QPainter painter(&face);
    button->style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, button);
    painter.end();
    const int x = option.rect.center().x();
    return {face.pixelColor(x, 3), face.pixelColor(x, option.rect.center().y()),
            face.pixelColor(x, option.rect.bottom() - 3)};
}

QColor legibleButtonText(const QAbstractButton *button, const QColor &tint)
{
    QColor legible = tint;
    for (const QColor &face : buttonFaceColors(button))
        legible = ColorContrast::legibleVariant(legible, face, ColorContrast::textTarget);
    return legible;
}
