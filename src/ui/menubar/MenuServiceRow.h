#pragma once

#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"

#include <QAbstractButton>

class MenuToggleGlyphButton;
class MenuUsageLine;
class QBoxLayout;
class QSpacerItem;
class StatusDot;
class StyledLabel;
class SymbolView;

// One service of the panel's list: a state dot, the name with its marker and,
// while it runs, the usage line, all of it a button that opens the service;
// beside it the start/stop toggle. Updated in place on every runtime change.
class MenuServiceRow : public QWidget {
    Q_OBJECT
public:
    explicit MenuServiceRow(const ManagedService &service, QWidget *parent = nullptr);

    const QUuid &serviceId() const { return m_service.id; }
    const ManagedService &service() const { return m_service; }
    // Returns true when the row's height may have changed.
    bool showService(const ManagedService &service, const ServiceRuntimeInfo &runtime, const QString &markerSymbol);

    QAbstractButton *openButton() const { return m_open; }
    MenuToggleGlyphButton *toggleButton() const { return m_toggle; }
    MenuUsageLine *usageLine() const { return m_usage; }
    QString markerSymbol() const;

Q_SIGNALS:
    void openRequested(const QUuid &serviceId);
    void toggleRequested(const ManagedService &service);

private:
    ManagedService m_service;
    QAbstractButton *m_open;
    QBoxLayout *m_contentLayout;
    StatusDot *m_dot;
    QBoxLayout *m_dotColumn = nullptr;
    QSpacerItem *m_dotAbove = nullptr;
    QSpacerItem *m_dotBelow = nullptr;
    int m_dotTopPadding = 0;
    StyledLabel *m_name;
    SymbolView *m_marker;
    MenuUsageLine *m_usage;
    MenuToggleGlyphButton *m_toggle;
    std::optional<ServiceLifecycleState> m_state;
};
