#pragma once

#include <QStyledItemDelegate>

// Draws one profile row: avatar, name with its lock state, caption line, and
// the highlight of the selected or hovered row.
class ProfileRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
