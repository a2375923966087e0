#include "app/MenuBarPanelPlacement.h"

QRect MenuBarPanelPlacement::geometry(const QRect &anchor, const QSize &panelSize,
                                      const std::optional<QRect> &availableGeometry)
{
    const int width = panelSize.width();
    const int height = panelSize.height();
    // Edges as positions between pixels: the anchor ends at top + height.
    const int anchorTop = anchor.y();
    const int anchorBottom = anchor.y() + anchor.height();
    int x = anchor.x() + anchor.width() / 2 - width / 2;
    int y = anchorBottom + anchorGap;
    if (availableGeometry) {
        const QRect &screen = *availableGeometry;
        const int left = screen.x() + screenMargin;
        const int right = screen.x() + screen.width() - screenMargin - width;
        if (x <= left)
            x = left;
        if (right < x)
            x = right;
        if (y + height > screen.y() + screen.height())
            y = anchorTop - anchorGap - height;
    }
    return {x, y, width, height};
}

QRect MenuBarPanelPlacement::insideWindow(const QRect &placed, const QRect &windowFrame)
{
    const QRect bounds = windowFrame.adjusted(screenMargin, screenMargin, -screenMargin, -screenMargin);
    QRect inside = placed;
    if (inside.right() > bounds.right())
        inside.moveRight(bounds.right());
    if (inside.left() < bounds.left())
        inside.moveLeft(bounds.left());
    if (inside.bottom() > bounds.bottom())
        inside.moveBottom(bounds.bottom());
    if (inside.top() < bounds.top())
        inside.moveTop(bounds.top());
    return inside;
}
