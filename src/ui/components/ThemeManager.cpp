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
    QPalette p;
    const QColor text(0x1d, 0x1d, 0x1f);
    p.setColor(QPalette::Window, QColor(0xec, 0xec, 0xee));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::AlternateBase, QColor(0xf4, 0xf4, 0xf6));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0xf7, 0xf7, 0xf9));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x1f, 0x73, 0xb8));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x1f, 0x73, 0xb8));
    p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xf4));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x1d, 0x1d, 0x1f, 0x66));
    p.setColor(QPalette::Light, Qt::white);
    p.setColor(QPalette::Midlight, QColor(0xe3, 0xe3, 0xe6));
    p.setColor(QPalette::Mid, QColor(0xb8, 0xb8, 0xbd));
    p.setColor(QPalette::Dark, QColor(0x9a, 0x9a, 0xa0));
    p.setColor(QPalette::Shadow, QColor(0x40, 0x40, 0x44));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x1d, 0x1d, 0x1f, 0x60));
    return p;
}

QPalette ThemeManager::darkPalette()
{
    QPalette p;
    const QColor text(0xf2, 0xf2, 0xf4);
    p.setColor(QPalette::Window, QColor(0x24, 0x24, 0x27));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x1b, 0x1b, 0x1e));
    p.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2a, 0x2e));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x84, 0xd6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x61, 0xab, 0xeb));
    p.setColor(QPalette::ToolTipBase, QColor(0x32, 0x32, 0x36));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0xf2, 0xf2, 0xf4, 0x66));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4f));
    p.setColor(QPalette::Midlight, QColor(0x3f, 0x3f, 0x44));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x34));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Shadow, QColor(0x05, 0x05, 0x06));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0xf2, 0xf2, 0xf4, 0x60));
    return p;
}
