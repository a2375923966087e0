#pragma once

#include <QAbstractButton>

// One row of the main window's section sidebar: symbol and title, with hover,
// pressed and selected fills. Stands in for the components' selectable row
// until that is merged.
class SidebarSectionRow final : public QAbstractButton {
    Q_OBJECT

public:
    SidebarSectionRow(const QIcon &icon, const QString &text, QWidget *parent = nullptr);

    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool m_selected = false;
    bool m_hovered = false;
};
