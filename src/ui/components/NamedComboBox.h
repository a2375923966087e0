#pragma once

#include <QComboBox>

// A combo box that assistive technologies name by its accessible name (its
// label), as they do every other field; Qt on Linux names a combo box by its
// current choice, so a screen reader heard "None" where the label says
// "Profile". The choice is its value; it opens its list like any combo box.
// The list carries the combo box's name, and an item an assistive technology
// selects in it (its Toggle action, the list's row selection) becomes the
// choice at once, as a click would make it, and is reported as `activated`;
// moving through the open list by keyboard or pointer still chooses nothing
// until Return or a click.
class NamedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit NamedComboBox(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

private:
    void watchListSelection();
    void choose(int row);
};
