#include "ui/screens/profiles/ProfilesListView.h"

#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfilesListModel.h"

#include <QKeyEvent>
#include <QMouseEvent>

ProfilesListView::ProfilesListView(ProfilesController &controller, QWidget *parent)
    : QListView(parent),
      m_controller(controller)
{
    setSelectionMode(QAbstractItemView::NoSelection);
    setMouseTracking(true);
    setUniformItemSizes(true);
    setSpacing(0);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setViewportMargins(8, 0, 8, 8);
    setAccessibleName(QStringLiteral("Environment Profiles"));
}

void ProfilesListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QListView::mousePressEvent(event);
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    setFocus(Qt::MouseFocusReason);
    if (!index.isValid()) {
        m_controller.clearSelection();
        return;
    }
    setCurrentIndex(index);
    m_controller.tapRow(index.data(ProfilesListModel::IdRole).toUuid());
}

void ProfilesListView::keyPressEvent(QKeyEvent *event)
{
    const int rows = model() ? model()->rowCount() : 0;
    if (rows == 0
        || (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down && event->key() != Qt::Key_Return
            && event->key() != Qt::Key_Enter && event->key() != Qt::Key_Space)) {
        QListView::keyPressEvent(event);
        return;
    }
    int row = currentIndex().isValid() ? currentIndex().row() : -1;
    if (event->key() == Qt::Key_Up)
        row = qMax(0, row - 1);
    else if (event->key() == Qt::Key_Down)
        row = qMin(rows - 1, row + 1);
    else
        row = qMax(0, row);
    const QModelIndex index = model()->index(row, 0);
    setCurrentIndex(index);
    m_controller.tapRow(index.data(ProfilesListModel::IdRole).toUuid());
}
