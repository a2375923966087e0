#pragma once

#include "records/AppSettings.h"

#include <QObject>
#include <QPalette>

#include <optional>

class ColorSchemePortal;

// The one appearance owner of the application. The shell calls apply() with
// the stored setting at start-up and whenever the setting changes; widgets read
// isDark() (through Palette and ThemeColor) while they paint, so a switch
// repaints every widget without rebuilding any. Connect to isDarkChanged only
// for state that is not drawn at paint time and not derived from a widget's
// palette: widgets take the new palette after the signal, so a colour judged
// on a widget's palette is computed with followPalette (PaletteFollower.h).
class ThemeManager : public QObject {
    Q_OBJECT
public:
    static ThemeManager &instance();

    AppAppearanceMode mode() const { return m_mode; }
    bool isDark() const { return m_isDark; }

    // system: follows the desktop's colour-scheme (portal), else the lightness
    // of the platform palette; light and dark force one. Also sets the Fusion
    // style the first time.
    void apply(AppAppearanceMode mode);

    static QPalette lightPalette();
    static QPalette darkPalette();

Q_SIGNALS:
    void isDarkChanged(bool isDark);

private:
    explicit ThemeManager(QObject *parent);
    bool systemPrefersDark() const;
    void update();

    AppAppearanceMode m_mode = AppAppearanceMode::system;
    bool m_isDark = false;
    bool m_applied = false;
    bool m_platformPaletteIsDark = false;
    ColorSchemePortal *m_portal = nullptr;
};
