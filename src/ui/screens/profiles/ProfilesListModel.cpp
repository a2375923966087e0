#include "ui/screens/profiles/ProfilesListModel.h"

#include "ui/components/NameRule.h"
#include "ui/screens/profiles/ProfilesController.h"

ProfilesListModel::ProfilesListModel(ProfilesController &controller, QObject *parent)
    : QAbstractListModel(parent),
      m_controller(controller),
      m_profiles(controller.filteredProfiles())
{}

int ProfilesListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_profiles.size());
}

QString ProfilesListModel::captionText(const EnvironmentProfile &profile, bool isLocked)
{
    if (isLocked)
        return QStringLiteral("Protected profile");
    const qsizetype count = profile.variables.size();
    return count == 1 ? QStringLiteral("1 variable") : QString::number(count) + QStringLiteral(" variables");
}

QVariant ProfilesListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_profiles.size())
        return {};
    const EnvironmentProfile &profile = m_profiles.at(index.row());
    const bool locked = m_controller.isLocked(profile.id);
    switch (role) {
    case Qt::DisplayRole:
        return NameRule::oneLine(profile.name);
    case Qt::AccessibleTextRole:
        return NameRule::oneLine(profile.name) + QStringLiteral(", ") + captionText(profile, locked);
    case Qt::AccessibleDescriptionRole:
        return m_controller.selectedProfileID() == profile.id ? QStringLiteral("Selected") : QString();
    case IdRole:
        return profile.id;
    case CaptionRole:
        return captionText(profile, locked);
    case LockSymbolRole:
        if (!profile.isProtected)
            return QString();
        return locked ? QStringLiteral("lock.fill") : QStringLiteral("lock.open.fill");
    case SelectedRole:
        return m_controller.selectedProfileID() == profile.id;
    default:
        return {};
    }
}

QModelIndex ProfilesListModel::indexOf(const QUuid &id) const
{
    for (qsizetype row = 0; row < m_profiles.size(); ++row) {
        if (m_profiles.at(row).id == id)
            return index(int(row));
    }
    return {};
}

void ProfilesListModel::refresh()
{
    QList<EnvironmentProfile> next = m_controller.filteredProfiles();
    bool sameOrder = next.size() == m_profiles.size();
    for (qsizetype row = 0; sameOrder && row < next.size(); ++row)
        sameOrder = next.at(row).id == m_profiles.at(row).id;
    if (!sameOrder) {
        beginResetModel();
        m_profiles = std::move(next);
        endResetModel();
        return;
    }
    m_profiles = std::move(next);
    if (!m_profiles.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_profiles.size()) - 1));
}
