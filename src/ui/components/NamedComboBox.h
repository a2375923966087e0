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
// until Return or a click. While closed, the list's selection shows the
// choice, which is how AT-SPI reports it.
//
// Its items are names, and a name may be long: the box takes the width its
// layout gives it, never its longest item's, and its open list is no wider.
// A name that does not fit is drawn shortened in the middle, in the box and
// in the list; its item text and accessible name stay whole.
class NamedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit NamedComboBox(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    void showPopup() override;
    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void watchListSelection();
    void showChoiceInList();
    void choose(int row);

    bool m_showingChoice = false;
};
