#include "ui/screens/services/ServiceListModel.h"

#include "execution/ServiceManager.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "ui/screens/services/ServicesController.h"

ServiceListModel::ServiceListModel(ServicesController &controller, QObject *parent)
    : QAbstractListModel(parent),
      m_controller(controller)
{
    ServiceManager &manager = controller.serviceManager();
    EnvironmentProfilesManager &profiles = controller.profilesManager();
    connect(&manager, &ServiceManager::servicesChanged, this, &ServiceListModel::refreshServices);
    connect(&manager, &ServiceManager::legacyEncryptedServiceIDsChanged, this, &ServiceListModel::repaintAll);
    connect(&manager, &ServiceManager::runtimeEntryChanged, this, &ServiceListModel::noteRuntimeEntry);
    connect(&manager, &ServiceManager::runtimeChanged, this, &ServiceListModel::applyRuntimeChanges);
    connect(&profiles, &EnvironmentProfilesManager::profilesChanged, this, &ServiceListModel::repaintAll);
    connect(&profiles, &EnvironmentProfilesManager::lockedProfileIDsChanged, this, &ServiceListModel::repaintAll);
    connect(&controller, &ServicesController::searchTextChanged, this, &ServiceListModel::refresh);
    connect(&controller, &ServicesController::filterChanged, this, &ServiceListModel::refresh);
    connect(&controller, &ServicesController::selectedServiceIdChanged, this, &ServiceListModel::selectionChanged);
    m_paintedSelection = controller.selectedServiceId();
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
    case Qt::AccessibleTextRole:
        return row->name;
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
        return m_controller.selectedServiceId() == row->id;
    default:
        return {};
    }
}

void ServiceListModel::refreshServices()
{
    m_services.clear();
    for (const ManagedService &service : m_controller.serviceManager().services())
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
    m_paintedSelection = m_controller.selectedServiceId();
    if (m_paintedSelection)
        repaintRow(*m_paintedSelection);
}
