#pragma once

#include <QPointer>
#include <QWidget>

// The two-column frame of a list screen: a sidebar exactly `sidebarWidth`
// wide on its own translucent surface, and a detail area that takes the rest
// and clips what does not fit. The screen hands in both columns once and
// updates them in place:
//     auto *chrome = new MasterDetailChrome(320);
//     chrome->setSidebar(serviceList);
//     chrome->setDetail(detailStack);
class MasterDetailChrome : public QWidget {
    Q_OBJECT
public:
    explicit MasterDetailChrome(int sidebarWidth, QWidget *parent = nullptr);

    // Takes ownership; a widget set before is deleted.
    void setSidebar(QWidget *sidebar);
    void setDetail(QWidget *detail);
    QWidget *sidebar() const { return m_sidebar; }
    QWidget *detail() const { return m_detail; }
    QWidget *sidebarColumn() const { return m_sidebarColumn; }
    QWidget *detailColumn() const { return m_detailColumn; }

private:
    QWidget *m_sidebarColumn;
    QWidget *m_detailColumn;
    QPointer<QWidget> m_sidebar;
    QPointer<QWidget> m_detail;
};
