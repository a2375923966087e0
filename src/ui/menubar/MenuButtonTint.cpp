#include "ui/menubar/MenuButtonTint.h"

#include "ui/components/ButtonTextTint.h"
#include "ui/components/ColorContrast.h"
#include "ui/components/EnabledColor.h"
#include "ui/components/PaletteFollower.h"

#include <QPushButton>

namespace {

// Judged on the button's own palette, so only once it has taken a new one.
template <typename Apply>
void applyAndFollow(QPushButton *button, Apply apply)
{
    followPalette(button, apply);
}

} // namespace

void tintProminent(QPushButton *button, Palette::Color color)
{
    applyAndFollow(button, [button, color] {
        // The deep variant in both themes: the dark theme's light variant would
        // make a pale slab that outweighs the rest of the panel. Its text is
        // whichever of white and near-black reads on it.
        setEnabledColor(button, QPalette::Button, Palette::color(color, false));
        // Judged on the face as the style paints it, which is lighter than the fill.
        const QList<QColor> faces = buttonFaceColors(button);
        QColor text = ColorContrast::legibleTextOn(faces.at(faces.size() / 2));
        for (const QColor &face : faces)
            text = ColorContrast::legibleVariant(text, face);
        setEnabledColor(button, QPalette::ButtonText, text);
    });
}

void tintText(QPushButton *button, Palette::Color color)
{
    applyAndFollow(button, [button, color] {
        setEnabledColor(button, QPalette::ButtonText, legibleButtonText(button, Palette::color(color)));
    });
}
