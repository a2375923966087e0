#include "ui/components/NamedComboBox.h"

#include "ui/components/AccessibleInterfaces.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QItemSelectionModel>
#include <QScopedValueRollback>

#include <functional>

namespace {

class NamedComboBoxAccessible final : public QAccessibleWidget {
public:
    explicit NamedComboBoxAccessible(QWidget *combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox)
    {}
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    // The list it opens, as a combo box has.
    int childCount() const override { return combo()->view() ? 1 : 0; }
    QAccessibleInterface *child(int index) const override
    {
        QAbstractItemView *list = combo()->view();
        if (index != 0 || !list)
            return nullptr;
        // The name is set late, after the combo box was built.
        if (list->accessibleName() != combo()->accessibleName())
            list->setAccessibleName(combo()->accessibleName());
        return QAccessible::queryAccessibleInterface(list);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && combo()->view() && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        const bool open = combo()->view() && combo()->view()->isVisible();
        state.expanded = open;
        state.collapsed = !open;
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList {showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &actionName) override
    {
        if (actionName != showMenuAction() && actionName != pressAction()) {
            QAccessibleWidget::doAction(actionName);
            return;
        }
        if (combo()->view() && combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }
};

// The popup list's selection, telling a selection made on its own (what
// Qt's accessible list does for Toggle and a row selection) from the
// selection that follows the current item as keys or the pointer move it.
class ListSelection final : public QItemSelectionModel {
public:
    ListSelection(QAbstractItemModel *model, std::function<void(int)> picked, QObject *parent)
        : QItemSelectionModel(model, parent),
          m_picked(std::move(picked))
    {}

    void setCurrentIndex(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override
    {
        const QScopedValueRollback following(m_followingCurrent, true);
        QItemSelectionModel::setCurrentIndex(index, command);
    }
    void select(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override
    {
        select(QItemSelection(index, index), command);
    }
    void select(const QItemSelection &selection, QItemSelectionModel::SelectionFlags command) override
    {
        QItemSelectionModel::select(selection, command);
        // A click selects the item it has just made current.
        if (m_followingCurrent || !(command & QItemSelectionModel::Select) || selection.isEmpty()
            || selection.contains(currentIndex()))
            return;
        const QModelIndex picked = selection.indexes().constFirst();
        // So that picking the item chosen before is a pick again.
        QItemSelectionModel::setCurrentIndex(picked, QItemSelectionModel::NoUpdate);
        m_picked(picked.row());
    }

private:
    std::function<void(int)> m_picked;
    bool m_followingCurrent = false;
};

} // namespace

NamedComboBox::NamedComboBox(QWidget *parent)
    : QComboBox(parent)
{
    useAccessibleInterface<NamedComboBox, NamedComboBoxAccessible>();
    watchListSelection();
}

void NamedComboBox::setModel(QAbstractItemModel *model)
{
    QComboBox::setModel(model);
    watchListSelection();
}

void NamedComboBox::watchListSelection()
{
    QAbstractItemView *list = view();
    QItemSelectionModel *replaced = list->selectionModel();
    auto *selection = new ListSelection(
        list->model(), [this](int row) { choose(row); }, list);
    list->setSelectionModel(selection);
    if (replaced && replaced->parent() == list)
        replaced->deleteLater();
    // The combo box reported highlighted from the selection replaced here.
    connect(selection, &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &current) {
        if (!current.isValid())
            return;
        Q_EMIT highlighted(current.row());
        Q_EMIT textHighlighted(itemText(current.row()));
    });
}

void NamedComboBox::choose(int row)
{
    if (row == currentIndex())
        return;
    setCurrentIndex(row);
    Q_EMIT activated(row);
    Q_EMIT textActivated(itemText(row));
}
