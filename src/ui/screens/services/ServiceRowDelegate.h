#pragma once

#include "ui/components/ElidedLineCache.h"
#include "ui/components/ThemeColor.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

class QAbstractItemView;

// Paints one row of the Services list: icon, name with its protection
// indicator, subtitle and state badge, on the selectable row background.
class ServiceRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int rowHeight = 52;
    static constexpr double pressedOpacity = 0.82;

    // Watches `view`'s rows being held down, to dim the one under the pointer.
    explicit ServiceRowDelegate(QAbstractItemView *view);

    bool isPressed(const QModelIndex &index) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Where the row in `rowRect` draws its title's indicator; empty without one.
    static QRect indicatorRect(const QRect &rowRect, const QModelIndex &index);

    // "Running", "Stopped", "Not Responding" and their colours.
    static QString badgeText(int state);
    static ThemeColor badgeColor(int state);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemView *m_view;
    QWidget *m_viewport;
    QPersistentModelIndex m_pressed;
    // Painting is const to Qt; the subtitles laid out so far are not the delegate's state.
    mutable ElidedLineCache m_subtitles;
};
