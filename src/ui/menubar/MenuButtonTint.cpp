#include "ui/menubar/MenuButtonTint.h"

#include "ui/components/ThemeManager.h"

#include <QPushButton>

namespace {

template <typename Apply>
void applyAndFollow(QPushButton *button, Apply apply)
{
    apply();
    QObject::connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, button, apply);
}

} // namespace

void tintProminent(QPushButton *button, Palette::Color color)
{
    applyAndFollow(button, [button, color] {
        const QColor fill = Palette::color(color);
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, fill);
        // The dark variants are light colours: dark text keeps them readable.
        palette.setColor(QPalette::ButtonText, fill.lightness() > 150 ? QColor(20, 20, 20) : QColor(Qt::white));
        button->setPalette(palette);
    });
}

void tintText(QPushButton *button, Palette::Color color)
{
    applyAndFollow(button, [button, color] {
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, Palette::color(color));
        button->setPalette(palette);
    });
}
