#include "ui/components/ThemeManager.h"

#include "ui/components/ColorSchemePortal.h"
#include "ui/components/ContrastStyle.h"

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

// The application palette, light or dark: each role's colour in both.
QPalette paletteOf(bool dark)
{
    const QColor lightText(0x1d, 0x1d, 0x1f);
    const QColor darkText(0xf2, 0xf2, 0xf4);
    const struct {
        QPalette::ColorRole role;
        QColor light;
        QColor dark;
    } table[] = {
        {QPalette::Window, QColor(0xec, 0xec, 0xee), QColor(0x24, 0x24, 0x27)},
        {QPalette::WindowText, lightText, darkText},
        {QPalette::Base, QColor(0xff, 0xff, 0xff), QColor(0x1b, 0x1b, 0x1e)},
        {QPalette::AlternateBase, QColor(0xf4, 0xf4, 0xf6), QColor(0x2a, 0x2a, 0x2e)},
        {QPalette::Text, lightText, darkText},
        {QPalette::Button, QColor(0xf7, 0xf7, 0xf9), QColor(0x3a, 0x3a, 0x3e)},
        {QPalette::ButtonText, lightText, darkText},
        {QPalette::BrightText, Qt::white, Qt::white},
        {QPalette::Highlight, QColor(0x1f, 0x73, 0xb8), QColor(0x3d, 0x84, 0xd6)},
        {QPalette::HighlightedText, Qt::white, Qt::white},
        {QPalette::Link, QColor(0x1f, 0x73, 0xb8), QColor(0x61, 0xab, 0xeb)},
        {QPalette::ToolTipBase, QColor(0xff, 0xff, 0xf4), QColor(0x32, 0x32, 0x36)},
        {QPalette::ToolTipText, lightText, darkText},
        // As faint as a hint may be while still reading at 4.5:1 on every surface of its theme.
        {QPalette::PlaceholderText, QColor(0x1d, 0x1d, 0x1f, 0xa4), QColor(0xf2, 0xf2, 0xf4, 0x88)},
        {QPalette::Light, Qt::white, QColor(0x4a, 0x4a, 0x4f)},
        {QPalette::Midlight, QColor(0xe3, 0xe3, 0xe6), QColor(0x3f, 0x3f, 0x44)},
        {QPalette::Mid, QColor(0xb8, 0xb8, 0xbd), QColor(0x30, 0x30, 0x34)},
        {QPalette::Dark, QColor(0x9a, 0x9a, 0xa0), QColor(0x18, 0x18, 0x1a)},
        {QPalette::Shadow, QColor(0x40, 0x40, 0x44), QColor(0x05, 0x05, 0x06)},
    };
    QPalette palette;
    for (const auto &entry : table)
        palette.setColor(entry.role, dark ? entry.dark : entry.light);
    const QColor disabledText = dark ? QColor(0xf2, 0xf2, 0xf4, 0x60) : QColor(0x1d, 0x1d, 0x1f, 0x60);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    return palette;
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
        if (!qobject_cast<ContrastStyle *>(QApplication::style()))
            QApplication::setStyle(new ContrastStyle);
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
    return paletteOf(false);
}

QPalette ThemeManager::darkPalette()
{
    return paletteOf(true);
}
