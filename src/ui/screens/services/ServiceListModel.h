#pragma once

#include "records/ManagedService.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QUuid>

class ServicesController;

// The visible services of the Services list, as ids in display order. A change
// that keeps the order only repaints the rows it touched; a new order resets
// the model (the list view puts its selection and scroll value back).
class ServiceListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ServiceIdRole = Qt::UserRole + 1,
        SubtitleRole,
        IndicatorSymbolRole,
        IndicatorTooltipRole,
        StateRole,
        SelectedRole,
    };

    explicit ServiceListModel(ServicesController &controller, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    const QList<QUuid> &serviceIds() const { return m_ids; }
    std::optional<ManagedService> service(int row) const;
    QString accessibleName(const ManagedService &service) const;
    int rowOf(const QUuid &id) const { return m_rows.value(id, -1); }

Q_SIGNALS:
    // After a reset that changed the order; the view restores its scroll value.
    void orderChanged();

private:
    void refreshServices();
    void refresh();
    void noteRuntimeEntry(const QUuid &id);
    void applyRuntimeChanges();
    void repaintAll();
    void repaintRow(const QUuid &id);
    void selectionChanged();

    ServicesController &m_controller;
    QList<QUuid> m_ids;
    QHash<QUuid, int> m_rows;
    QHash<QUuid, ManagedService> m_services;
    QSet<QUuid> m_changedRuntimeEntries;
    std::optional<QUuid> m_paintedSelection;
};
