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
        // The deep variant with white text in both themes: the dark theme's
        // light variant would make a pale slab that outweighs the rest of the panel.
        const QColor fill = Palette::color(color, false);
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, fill);
        palette.setColor(QPalette::ButtonText, Qt::white);
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
