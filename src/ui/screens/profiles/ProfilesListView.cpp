#include "ui/screens/profiles/ProfilesListView.h"

#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfilesListModel.h"

#include <QKeyEvent>
#include <QMouseEvent>

ProfilesListView::ProfilesListView(ProfilesController &controller, QWidget *parent)
    : QListView(parent),
      m_controller(controller)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
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

void ProfilesListView::setModel(QAbstractItemModel *model)
{
    if (this->model())
        disconnect(this->model(), nullptr, this, nullptr);
    QListView::setModel(model);
    if (!model)
        return;
    // A reset (search, reload) drops the list's selection, not the profile's.
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_writingSelection = true; });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { m_writingSelection = false; });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &ProfilesListView::takeUserSelection);
}

void ProfilesListView::showSelection(const QModelIndex &index)
{
    m_writingSelection = true;
    if (index.isValid()) {
        selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selectionModel()->clearSelection();
    }
    m_writingSelection = false;
}

void ProfilesListView::takeUserSelection()
{
    if (m_writingSelection)
        return;
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        m_controller.clearSelection();
    else
        m_controller.tapRow(rows.constFirst().data(ProfilesListModel::IdRole).toUuid());
}

void ProfilesListView::selectRow(const QModelIndex &index)
{
    // The selected row asks for authentication again, as a tap on it does.
    const bool wasSelected = selectionModel()->isSelected(index);
    setCurrentIndex(index);
    if (wasSelected)
        m_controller.tapRow(index.data(ProfilesListModel::IdRole).toUuid());
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
    selectRow(index);
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
    selectRow(model()->index(row, 0));
}
