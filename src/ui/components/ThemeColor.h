#pragma once

#include "ui/components/Palette.h"

#include <QColor>
#include <QList>

class QWidget;

// A colour a component draws with, kept as a role and resolved while painting,
// so a theme switch repaints it. Accent colours come from Palette; primary,
// secondary and tertiary are the surrounding text colour at opacities that keep
// text legible on every surface, quaternary at 0.25 for marks that carry no
// meaning; the surfaces are the neutral platform colours.
// Screens pass one wherever a component takes a tint:
//     new StatusBadge(QStringLiteral("Running"), Palette::Color::green);
//     new StatusBadge(QStringLiteral("Stopped"), ThemeColor::secondary());
class ThemeColor {
public:
    enum class Role {
        accent,
        primary,
        secondary,
        tertiary,
        quaternary,
        separator,
        controlBackground,
        textBackground,
        cardBackground,
        sidebarBackground,
        fixed,
    };

    ThemeColor(Palette::Color accent)
        : m_role(Role::accent),
          m_accent(accent)
    {} // NOLINT: implicit by design
    static ThemeColor primary() { return ThemeColor(Role::primary); }
    static ThemeColor secondary() { return ThemeColor(Role::secondary); }
    static ThemeColor tertiary() { return ThemeColor(Role::tertiary); }
    static ThemeColor quaternary() { return ThemeColor(Role::quaternary); }
    static ThemeColor separator() { return ThemeColor(Role::separator); }
    static ThemeColor controlBackground() { return ThemeColor(Role::controlBackground); }
    static ThemeColor textBackground() { return ThemeColor(Role::textBackground); }
    static ThemeColor cardBackground() { return ThemeColor(Role::cardBackground); }
    static ThemeColor sidebarBackground() { return ThemeColor(Role::sidebarBackground); }
    static ThemeColor fixed(const QColor &color);
    // The surfaces the screens draw on in the current theme, each as it shows
    // over the window: window, text and button background, card, control and
    // sidebar, and the window under a faint wash of text colour (grouped forms,
    // hovered rows). A colour legible on all of them is legible anywhere.
    static QList<QColor> opaqueSurfaces();

    Role role() const { return m_role; }
    bool isHierarchical() const;

    // The text-relative roles take `foreground` as their primary colour.
    QColor resolve(const QColor &foreground) const;
    // Against the application palette's text colour.
    QColor resolve() const;
    // Against the text colour `widget` inherits.
    QColor resolve(const QWidget *widget) const;

    friend bool operator==(const ThemeColor &, const ThemeColor &) = default;

private:
    explicit ThemeColor(Role role)
        : m_role(role)
    {}

    Role m_role;
    Palette::Color m_accent = Palette::Color::slate;
    QColor m_fixed;
};

// The color at the given opacity (0 to 1), multiplied into its own alpha.
QColor withOpacity(QColor color, qreal opacity);
