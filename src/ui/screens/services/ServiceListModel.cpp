#include "ui/screens/services/ServiceListModel.h"

#include "ui/components/NameRule.h"
#include "ui/screens/services/ServiceRowDelegate.h"
#include "ui/screens/services/ServicesController.h"

ServiceListModel::ServiceListModel(ServicesController &controller, QObject *parent)
    : QAbstractListModel(parent),
      m_controller(controller)
{
    connect(&controller, &ServicesController::servicesChanged, this, &ServiceListModel::refreshServices);
    connect(&controller, &ServicesController::runtimeEntryChanged, this, &ServiceListModel::noteRuntimeEntry);
    connect(&controller, &ServicesController::runtimeChanged, this, &ServiceListModel::applyRuntimeChanges);
    connect(&controller, &ServicesController::profilesChanged, this, &ServiceListModel::repaintAll);
    connect(&controller, &ServicesController::locksChanged, this, &ServiceListModel::repaintAll);
    connect(&controller, &ServicesController::searchTextChanged, this, &ServiceListModel::refresh);
    connect(&controller, &ServicesController::filterChanged, this, &ServiceListModel::refresh);
    connect(&controller, &ServicesController::selectedServiceIDChanged, this, &ServiceListModel::selectionChanged);
    m_paintedSelection = controller.selectedServiceID();
    refreshServices();
}

int ServiceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_ids.size());
}

std::optional<ManagedService> ServiceListModel::service(int row) const
{
    if (row < 0 || row >= m_ids.size())
        return std::nullopt;
    const auto found = m_services.constFind(m_ids[row]);
    return found != m_services.cend() ? std::optional<ManagedService>(*found) : std::nullopt;
}

QVariant ServiceListModel::data(const QModelIndex &index, int role) const
{
    const std::optional<ManagedService> row = service(index.row());
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return NameRule::oneLine(row->name);
    case Qt::AccessibleTextRole:
        return accessibleName(*row);
    case Qt::AccessibleDescriptionRole:
        return m_controller.selectedServiceID() == row->id ? QStringLiteral("Selected") : QString();
    case ServiceIdRole:
        return row->id;
    case SubtitleRole:
        return m_controller.rowSubtitle(*row);
    case IndicatorSymbolRole:
        return m_controller.rowIndicator(*row).symbol;
    case IndicatorTooltipRole:
        return m_controller.rowIndicator(*row).tooltip;
    case StateRole:
        return static_cast<int>(m_controller.runtimeEntry(row->id).state);
    case SelectedRole:
        return m_controller.selectedServiceID() == row->id;
    default:
        return {};
    }
}

// What the row shows, in its order: name, subtitle, badge.
QString ServiceListModel::accessibleName(const ManagedService &service) const
{
    QStringList parts {NameRule::oneLine(service.name)};
    const QString subtitle = m_controller.rowSubtitle(service);
    if (!subtitle.isEmpty())
        parts << subtitle;
    parts << ServiceRowDelegate::badgeText(static_cast<int>(m_controller.runtimeEntry(service.id).state));
    return parts.join(QStringLiteral(", "));
}

void ServiceListModel::refreshServices()
{
    m_services.clear();
    for (const ManagedService &service : m_controller.services())
        m_services.insert(service.id, service);
    refresh();
    repaintAll();
}

void ServiceListModel::refresh()
{
    QList<QUuid> ids;
    const QList<ManagedService> visible = m_controller.visibleServices();
    ids.reserve(visible.size());
    for (const ManagedService &service : visible)
        ids.append(service.id);
    if (ids == m_ids)
        return;
    beginResetModel();
    m_ids = std::move(ids);
    m_rows.clear();
    for (int row = 0; row < m_ids.size(); ++row)
        m_rows.insert(m_ids[row], row);
    endResetModel();
    Q_EMIT orderChanged();
}

void ServiceListModel::noteRuntimeEntry(const QUuid &id)
{
    m_changedRuntimeEntries.insert(id);
}

void ServiceListModel::applyRuntimeChanges()
{
    const QSet<QUuid> changed = std::exchange(m_changedRuntimeEntries, {});
    if (changed.isEmpty()) {
        refresh();
        repaintAll();
        return;
    }
    // Only a state filter can let a runtime change move a service in or out.
    const ServiceFilter filter = m_controller.filter();
    if (filter != ServiceFilter::all) {
        for (const QUuid &id : changed) {
            if (!m_services.contains(id))
                continue;
            const bool running = m_controller.runtimeEntry(id).state == ServiceLifecycleState::running;
            const bool kept = filter == ServiceFilter::running ? running : !running;
            if (kept != m_rows.contains(id)) {
                refresh();
                break;
            }
        }
    }
    for (const QUuid &id : changed)
        repaintRow(id);
}

void ServiceListModel::repaintAll()
{
    if (!m_ids.isEmpty())
        Q_EMIT dataChanged(index(0), index(static_cast<int>(m_ids.size()) - 1));
}

void ServiceListModel::repaintRow(const QUuid &id)
{
    const int row = rowOf(id);
    if (row >= 0)
        Q_EMIT dataChanged(index(row), index(row));
}

void ServiceListModel::selectionChanged()
{
    if (m_paintedSelection)
        repaintRow(*m_paintedSelection);
    m_paintedSelection = m_controller.selectedServiceID();
    if (m_paintedSelection)
        repaintRow(*m_paintedSelection);
}
