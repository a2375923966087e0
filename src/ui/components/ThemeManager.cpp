#include "ui/components/ThemeManager.h"

#include "ui/components/ColorSchemePortal.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>

namespace {

void useFallbackIconTheme()
{
    // Symbols come from the desktop's icon theme; Adwaita (installed with the
    // application) fills in what it lacks, and stands in for a missing theme.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

// The colours that differ between the light and the dark palette.
struct PaletteColors {
    QColor window;
    QColor text;
    QColor base;
    QColor alternateBase;
    QColor button;
    QColor highlight;
    QColor link;
    QColor toolTipBase;
    QColor placeholderText;
    QColor light;
    QColor midlight;
    QColor mid;
    QColor dark;
    QColor shadow;
    QColor disabledText;
};

QPalette paletteOf(const PaletteColors &colors)
{
    QPalette p;
    p.setColor(QPalette::Window, colors.window);
    p.setColor(QPalette::WindowText, colors.text);
    p.setColor(QPalette::Base, colors.base);
    p.setColor(QPalette::AlternateBase, colors.alternateBase);
    p.setColor(QPalette::Text, colors.text);
    p.setColor(QPalette::Button, colors.button);
    p.setColor(QPalette::ButtonText, colors.text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, colors.highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, colors.link);
    p.setColor(QPalette::ToolTipBase, colors.toolTipBase);
    p.setColor(QPalette::ToolTipText, colors.text);
    p.setColor(QPalette::PlaceholderText, colors.placeholderText);
    p.setColor(QPalette::Light, colors.light);
    p.setColor(QPalette::Midlight, colors.midlight);
    p.setColor(QPalette::Mid, colors.mid);
    p.setColor(QPalette::Dark, colors.dark);
    p.setColor(QPalette::Shadow, colors.shadow);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, colors.disabledText);
    return p;
}

} // namespace

ThemeManager &ThemeManager::instance()
{
    static QPointer<ThemeManager> manager;
    if (!manager)
        manager = new ThemeManager(qApp);
    return *manager;
}

ThemeManager::ThemeManager(QObject *parent)
    : QObject(parent)
{
    // The palette the platform gave the application, before we replace it.
    m_platformPaletteIsDark = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    m_isDark = m_platformPaletteIsDark;
    useFallbackIconTheme();
    m_portal = new ColorSchemePortal(this);
    connect(m_portal, &ColorSchemePortal::prefersDarkChanged, this, [this] {
        if (m_applied && m_mode == AppAppearanceMode::system)
            update();
    });
}

void ThemeManager::apply(AppAppearanceMode mode)
{
    if (!m_applied) {
        if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    const bool first = !m_applied;
    m_applied = true;
    m_mode = mode;
    if (first)
        QApplication::setPalette(m_isDark ? darkPalette() : lightPalette());
    update();
}

bool ThemeManager::systemPrefersDark() const
{
    return m_portal->prefersDark().value_or(m_platformPaletteIsDark);
}

void ThemeManager::update()
{
    bool dark = false;
    switch (m_mode) {
    case AppAppearanceMode::system:
        dark = systemPrefersDark();
        break;
    case AppAppearanceMode::light:
        dark = false;
        break;
    case AppAppearanceMode::dark:
        dark = true;
        break;
    }
    if (dark == m_isDark)
        return;
    m_isDark = dark;
    QApplication::setPalette(dark ? darkPalette() : lightPalette());
    Q_EMIT isDarkChanged(dark);
}

QPalette ThemeManager::lightPalette()
{
    return paletteOf({.window = QColor(0xec, 0xec, 0xee),
                      .text = QColor(0x1d, 0x1d, 0x1f),
                      .base = QColor(0xff, 0xff, 0xff),
                      .alternateBase = QColor(0xf4, 0xf4, 0xf6),
                      .button = QColor(0xf7, 0xf7, 0xf9),
                      .highlight = QColor(0x1f, 0x73, 0xb8),
                      .link = QColor(0x1f, 0x73, 0xb8),
                      .toolTipBase = QColor(0xff, 0xff, 0xf4),
                      .placeholderText = QColor(0x1d, 0x1d, 0x1f, 0x66),
                      .light = Qt::white,
                      .midlight = QColor(0xe3, 0xe3, 0xe6),
                      .mid = QColor(0xb8, 0xb8, 0xbd),
                      .dark = QColor(0x9a, 0x9a, 0xa0),
                      .shadow = QColor(0x40, 0x40, 0x44),
                      .disabledText = QColor(0x1d, 0x1d, 0x1f, 0x60)});
}

QPalette ThemeManager::darkPalette()
{
    return paletteOf({.window = QColor(0x24, 0x24, 0x27),
                      .text = QColor(0xf2, 0xf2, 0xf4),
                      .base = QColor(0x1b, 0x1b, 0x1e),
                      .alternateBase = QColor(0x2a, 0x2a, 0x2e),
                      .button = QColor(0x3a, 0x3a, 0x3e),
                      .highlight = QColor(0x3d, 0x84, 0xd6),
                      .link = QColor(0x61, 0xab, 0xeb),
                      .toolTipBase = QColor(0x32, 0x32, 0x36),
                      .placeholderText = QColor(0xf2, 0xf2, 0xf4, 0x66),
                      .light = QColor(0x4a, 0x4a, 0x4f),
                      .midlight = QColor(0x3f, 0x3f, 0x44),
                      .mid = QColor(0x30, 0x30, 0x34),
                      .dark = QColor(0x18, 0x18, 0x1a),
                      .shadow = QColor(0x05, 0x05, 0x06),
                      .disabledText = QColor(0xf2, 0xf2, 0xf4, 0x60)});
}
