#include "ui/components/Palette.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include "support/Screenshots.h"

#include <QGridLayout>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

// Every symbol the screens show, to be looked at side by side.
const char *const symbolNames[] = {
    "arrow.clockwise",
    "arrow.counterclockwise",
    "arrow.triangle.2.circlepath",
    "checkmark.circle.fill",
    "checkmark.shield.fill",
    "chevron.down",
    "chevron.right",
    "circle.lefthalf.filled",
    "clock",
    "clock.arrow.circlepath",
    "cpu",
    "cpu.fill",
    "doc.on.doc",
    "exclamationmark.shield.fill",
    "exclamationmark.triangle.fill",
    "folder",
    "gauge",
    "gearshape",
    "gpu",
    "hand.raised.fill",
    "internaldrive",
    "key",
    "key.fill",
    "list.bullet.rectangle",
    "lock.fill",
    "lock.open",
    "lock.open.fill",
    "lock.shield.fill",
    "magnifyingglass",
    "memorychip",
    "memorychip.fill",
    "moon.fill",
    "number",
    "pencil",
    "person.crop.circle",
    "person.crop.circle.fill",
    "person.text.rectangle.fill",
    "play.fill",
    "plus",
    "shield.lefthalf.filled.badge.checkmark",
    "shield.slash.fill",
    "shippingbox.fill",
    "sparkles",
    "stop.fill",
    "sun.max.fill",
    "terminal",
    "terminal.fill",
    "text.alignleft",
    "text.magnifyingglass",
    "text.rectangle.fill",
    "trash",
    "xmark.circle.fill",
    "xmark.octagon",
};

} // namespace

// Each symbol at 16 and 20 pixels, in the text colour and in a tint, so a
// rough or missing drawing stands out next to the theme's icons; the 16-pixel
// one also magnified four times, pixel for pixel.
TEST(SymbolSheetScreenshots, EverySymbolAtSixteenAndTwentyPixels)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "screenshots are taken by scripts/screenshots.sh";
    // The application sets up its icon theme before it shows any symbol.
    ThemeManager::instance().apply(AppAppearanceMode::light);
    QWidget sheet;
    auto *layout = new QGridLayout(&sheet);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setHorizontalSpacing(14);
    layout->setVerticalSpacing(6);
    constexpr int columns = 3;
    int index = 0;
    for (const char *name : symbolNames) {
        const int row = index / columns;
        const int column = (index % columns) * 5;
        layout->addWidget(new SymbolView(QString::fromLatin1(name), 16, ThemeColor::primary()), row, column);
        layout->addWidget(new SymbolView(QString::fromLatin1(name), 20, ThemeColor::primary()), row, column + 1);
        layout->addWidget(new SymbolView(QString::fromLatin1(name), 20, Palette::Color::blue), row, column + 2);
        auto *magnified = new QLabel;
        magnified->setPixmap(symbolPixmap(QString::fromLatin1(name), 16, Qt::gray)
                                 .scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        layout->addWidget(magnified, row, column + 3);
        layout->addWidget(new StyledLabel(QString::fromLatin1(name), TextStyle::caption), row, column + 4);
        ++index;
    }
    sheet.show();
    for (const auto &[mode, suffix] :
         {std::pair {AppAppearanceMode::light, "light"}, std::pair {AppAppearanceMode::dark, "dark"}}) {
        ThemeManager::instance().apply(mode);
        EXPECT_TRUE(Screenshots::save(sheet, QStringLiteral("components/symbols-") + QString::fromLatin1(suffix)));
    }
}
