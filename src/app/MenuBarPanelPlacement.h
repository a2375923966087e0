#pragma once

#include <QRect>
#include <QSize>

#include <optional>

// Where the tray panel goes: centred under its anchor, 2 below it, kept 6
// inside the screen's left and right edges (the right one wins on a screen
// narrower than the panel), and 2 above the anchor when there is no room
// below. Without a screen, the position from the anchor alone.
struct MenuBarPanelPlacement {
    static constexpr int anchorGap = 2;
    static constexpr int screenMargin = 6;

    static QRect geometry(const QRect &anchor, const QSize &panelSize, const std::optional<QRect> &availableGeometry);
    // Without a tray the panel drops from a button of the main window: it stays
    // 6 inside that window's frame, moving left, right or up as it must (up
    // no further than the frame's top margin).
    static QRect insideWindow(const QRect &placed, const QRect &windowFrame);
};
