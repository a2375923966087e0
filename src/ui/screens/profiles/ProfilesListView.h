#pragma once

#include <QListView>

class ProfilesController;

// The profile list: whatever selects a row (a click, the arrow keys, an
// assistive technology's select action) selects its profile; a click or
// Return on the selected row goes to the controller's row rule again; a click
// on empty space clears the selection.
class ProfilesListView final : public QListView {
    Q_OBJECT
public:
    explicit ProfilesListView(ProfilesController &controller, QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    // Shows the controller's selection without feeding it back; a profile the
    // list does not show (an invalid index) leaves no row selected and stays
    // the selection.
    void showSelection(const QModelIndex &index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void selectRow(const QModelIndex &index);
    void takeUserSelection();

    ProfilesController &m_controller;
    // Set while the list shows the controller's selection or is being reset.
    bool m_writingSelection = false;
};
