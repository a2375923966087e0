#pragma once

#include <QListView>

class ProfilesController;

// The profile list: a click on a row goes to the controller's row rule, a
// click on empty space clears the selection; arrows move the selection.
class ProfilesListView final : public QListView {
    Q_OBJECT
public:
    explicit ProfilesListView(ProfilesController &controller, QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    ProfilesController &m_controller;
};
