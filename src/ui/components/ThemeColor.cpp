#include "ui/components/ThemeColor.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/ThemeManager.h"

#include <QApplication>
#include <QWidget>

ThemeColor ThemeColor::fixed(const QColor &color)
{
    ThemeColor result(Role::fixed);
    result.m_fixed = color;
    return result;
}

QList<QColor> ThemeColor::opaqueSurfaces()
{
    const QPalette palette = QApplication::palette();
    const QColor window = palette.color(QPalette::Window);
    QList<QColor> surfaces {window, palette.color(QPalette::Base), palette.color(QPalette::Button)};
    for (const ThemeColor &surface : {controlBackground(), textBackground(), cardBackground(), sidebarBackground()})
        surfaces << ColorContrast::compositedOver(surface.resolve(), window);
    // The faint wash of the text colour that grouped forms and hovered rows lay on the window.
    surfaces << ColorContrast::compositedOver(withOpacity(palette.color(QPalette::WindowText), 0.06), window);
    return surfaces;
}

bool ThemeColor::isHierarchical() const
{
    return m_role == Role::primary || m_role == Role::secondary || m_role == Role::tertiary
           || m_role == Role::quaternary;
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

QColor ThemeColor::resolve(const QColor &foreground) const
{
    const bool dark = ThemeManager::instance().isDark();
    switch (m_role) {
    case Role::accent:
        return Palette::color(m_accent, dark);
    case Role::primary:
        return foreground;
    // Both keep 4.5:1 against every surface of their theme, the dark one's
    // buttons included.
    case Role::secondary:
        return withOpacity(foreground, dark ? 0.66 : 0.72);
    case Role::tertiary:
        return withOpacity(foreground, dark ? 0.6 : 0.66);
    case Role::quaternary:
        return withOpacity(foreground, 0.25);
    case Role::separator:
        return dark ? QColor(255, 255, 255, 36) : QColor(0, 0, 0, 30);
    case Role::controlBackground:
        return dark ? QColor(0x2c, 0x2c, 0x30) : QColor(0xfb, 0xfb, 0xfc);
    case Role::textBackground:
        return dark ? QColor(0x1b, 0x1b, 0x1e) : QColor(0xff, 0xff, 0xff);
    case Role::cardBackground:
        return dark ? QColor(0x2e, 0x2e, 0x32) : QColor(0xf8, 0xf8, 0xfa);
    case Role::sidebarBackground:
        return dark ? QColor(0x2a, 0x2a, 0x2d, 235) : QColor(0xe2, 0xe2, 0xe6, 235);
    case Role::fixed:
        return m_fixed;
    }
    return foreground;
}

QColor ThemeColor::resolve() const
{
    return resolve(QApplication::palette().color(QPalette::WindowText));
}

QColor ThemeColor::resolve(const QWidget *widget) const
{
    if (!widget)
        return resolve();
    return resolve(widget->palette().color(QPalette::WindowText));
}
