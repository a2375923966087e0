#pragma once

#include <QComboBox>

// A combo box that assistive technologies name by its accessible name (its
// label), as they do every other field; Qt on Linux names a combo box by its
// current choice, so a screen reader heard "None" where the label says
// "Profile". The choice is its value; it opens its list like any combo box.
class NamedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit NamedComboBox(QWidget *parent = nullptr);
};
