#include "ui/components/NamedComboBox.h"

#include "ui/components/AccessibleInterfaces.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QItemSelectionModel>
#include <QScopedValueRollback>
#include <QStyleOptionMenuItem>
#include <QStylePainter>

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

    // Selects the choice as the current item, which is never a pick.
    void showChoice(const QModelIndex &choice)
    {
        if (choice.isValid())
            setCurrentIndex(choice, QItemSelectionModel::ClearAndSelect);
        else
            clear();
    }
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

// The list's items drawn as Fusion's combo list draws them, as menu items,
// each shortened in the middle where it does not fit.
class NameMenuDelegate final : public QAbstractItemDelegate {
public:
    explicit NameMenuDelegate(QComboBox *combo)
        : QAbstractItemDelegate(combo),
          m_combo(combo)
    {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionMenuItem item = menuItem(option, index);
        // The style's room around the text: what it adds to a text's width.
        constexpr int wide = 10000;
        const int frame =
            m_combo->style()->sizeFromContents(QStyle::CT_MenuItem, &item, QSize(wide, 0), m_combo).width() - wide;
        item.text = item.fontMetrics.elidedText(item.text, Qt::ElideMiddle, option.rect.width() - frame);
        // A menu reads "&" as a mnemonic mark.
        item.text.replace(QLatin1Char('&'), QLatin1String("&&"));
        m_combo->style()->drawControl(QStyle::CE_MenuItem, &item, painter, m_combo);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QStyleOptionMenuItem item = menuItem(option, index);
        return m_combo->style()->sizeFromContents(QStyle::CT_MenuItem, &item, option.rect.size(), m_combo);
    }

private:
    QStyleOptionMenuItem menuItem(const QStyleOptionViewItem &option, const QModelIndex &index) const
    {
        QStyleOptionMenuItem item;
        item.palette = option.palette.resolve(QApplication::palette("QMenu"));
        item.state = m_combo->window()->isActiveWindow() ? QStyle::State_Active : QStyle::State_None;
        if ((option.state & QStyle::State_Enabled) && (index.flags() & Qt::ItemIsEnabled))
            item.state |= QStyle::State_Enabled;
        else
            item.palette.setCurrentColorGroup(QPalette::Disabled);
        if (option.state & QStyle::State_Selected)
            item.state |= QStyle::State_Selected;
        item.checkType = QStyleOptionMenuItem::NonExclusive;
        item.checked = m_combo->currentIndex() == index.row();
        item.menuItemType = QStyleOptionMenuItem::Normal;
        item.text = index.data(Qt::DisplayRole).toString();
        item.reservedShortcutWidth = 0;
        item.maxIconWidth = option.decorationSize.width() + 4;
        item.menuRect = option.rect;
        item.rect = option.rect;
        item.font = m_combo->font();
        item.fontMetrics = QFontMetrics(item.font);
        return item;
    }

    QComboBox *m_combo;
};

} // namespace

NamedComboBox::NamedComboBox(QWidget *parent)
    : QComboBox(parent)
{
    useAccessibleInterface<NamedComboBox, NamedComboBoxAccessible>();
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(10);
    setItemDelegate(new NameMenuDelegate(this));
    watchListSelection();
    connect(this, &QComboBox::currentIndexChanged, this, &NamedComboBox::showChoiceInList);
}

void NamedComboBox::showPopup()
{
    QComboBox::showPopup();
    // Qt widens the list to its longest item, as far as the screen.
    QWidget *popup = view()->window();
    if (popup == window() || popup->width() <= width())
        return;
    popup->setGeometry(mapToGlobal(QPoint(0, 0)).x(), popup->y(), width(), popup->height());
}

void NamedComboBox::hidePopup()
{
    QComboBox::hidePopup();
    showChoiceInList();
}

void NamedComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull())
        field.setLeft(field.left() + option.iconSize.width() + 4);
    // The label is drawn a pixel in from each side of the field.
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, field.width() - 2);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void NamedComboBox::setModel(QAbstractItemModel *model)
{
    QComboBox::setModel(model);
    watchListSelection();
    showChoiceInList();
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
        if (!current.isValid() || m_showingChoice)
            return;
        Q_EMIT highlighted(current.row());
        Q_EMIT textHighlighted(itemText(current.row()));
    });
}

void NamedComboBox::showChoiceInList()
{
    // Closed, the list's selection is what AT-SPI reports as the choice, and
    // Qt moves it only as the list opens; open, it follows keys and pointer.
    QAbstractItemView *list = view();
    if (list->isVisible())
        return;
    const QScopedValueRollback showing(m_showingChoice, true);
    static_cast<ListSelection *>(list->selectionModel())
        ->showChoice(model()->index(currentIndex(), modelColumn(), rootModelIndex()));
}

void NamedComboBox::choose(int row)
{
    if (row == currentIndex())
        return;
    setCurrentIndex(row);
    Q_EMIT activated(row);
    Q_EMIT textActivated(itemText(row));
}
