#include "ui/menubar/MenuButtonTint.h"

#include "ui/components/ButtonTextTint.h"
#include "ui/components/ColorContrast.h"
#include "ui/components/EnabledColor.h"
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
        // The deep variant in both themes: the dark theme's light variant would
        // make a pale slab that outweighs the rest of the panel. Its text is
        // whichever of white and near-black reads on it.
        const QColor fill = Palette::color(color, false);
        setEnabledColor(button, QPalette::Button, fill);
        setEnabledColor(button, QPalette::ButtonText, ColorContrast::legibleTextOn(fill));
    });
}

void tintText(QPushButton *button, Palette::Color color)
{
    applyAndFollow(button, [button, color] {
        setEnabledColor(button, QPalette::ButtonText, legibleButtonText(button, Palette::color(color)));
    });
}
