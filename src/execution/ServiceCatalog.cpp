#include "execution/ServiceCatalog.h"

#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ProtectedProfilesError.h"
#include "records/ServiceRepository.h"

#include <QCollator>
#include <QCoroFuture>
#include <QDateTime>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace {

void sortByName(QList<ManagedService> &services)
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(services.begin(), services.end(), [&collator](const ManagedService &a, const ManagedService &b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

ProtectedProfilesError decryptionFailed()
{
    return ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
}

} // namespace

ServiceCatalog::ServiceCatalog(ServiceRepository &repository, EnvironmentProfilesManager &environmentProfilesManager,
                               ProtectedProfilesLockManager &lockManager, QObject *parent)
    : QObject(parent),
      m_repository(repository),
      m_environmentProfilesManager(environmentProfilesManager),
      m_lockManager(lockManager)
{}

std::optional<ManagedService> ServiceCatalog::service(const QUuid &id) const
{
    for (const ManagedService &candidate : m_services) {
        if (candidate.id == id)
            return candidate;
    }
    return std::nullopt;
}

bool ServiceCatalog::usesProtectedProfile(const ManagedService &service) const
{
    return service.environmentProfileId
           && m_environmentProfilesManager.lockedProfileIDs().contains(*service.environmentProfileId);
}

void ServiceCatalog::publish(LoadedServices loaded)
{
    sortByName(loaded.services);
    if (m_services != loaded.services) {
        m_services = std::move(loaded.services);
        Q_EMIT servicesChanged();
    }
    if (m_legacyEncryptedServiceIDs != loaded.legacyEncryptedServiceIDs) {
        m_legacyEncryptedServiceIDs = std::move(loaded.legacyEncryptedServiceIDs);
        Q_EMIT legacyEncryptedServiceIDsChanged();
    }
}

QCoro::Task<bool> ServiceCatalog::reload()
{
    QPointer<ServiceCatalog> self(this);
    LoadedServices loaded = co_await m_repository.loadServices();
    if (!self)
        co_return false;
    publish(std::move(loaded));
    co_return true;
}

QCoro::Task<bool> ServiceCatalog::save(ManagedService service)
{
    QPointer<ServiceCatalog> self(this);
    service.updatedAt = QDateTime::currentDateTimeUtc();
    co_await m_repository.saveService(service);
    if (!self)
        co_return false;
    const bool reloaded = co_await reload();
    co_return reloaded;
}

QCoro::Task<bool> ServiceCatalog::remove(QUuid id)
{
    QPointer<ServiceCatalog> self(this);
    co_await m_repository.deleteService(id);
    if (!self)
        co_return false;
    const bool reloaded = co_await reload();
    co_return reloaded;
}

QCoro::Task<> ServiceCatalog::migrateLegacyEncryptedServices()
{
    if (m_legacyEncryptedServiceIDs.isEmpty())
        co_return;
    // The repository converts every legacy record with the one key.
    const QUuid anyId = *m_legacyEncryptedServiceIDs.cbegin();
    co_await migrateLegacyEncryptedService(anyId, ProtectedUnlockReason::migrateLegacyServices());
}

QCoro::Task<ManagedService> ServiceCatalog::migrateLegacyEncryptedService(QUuid serviceId, ProtectedUnlockReason reason)
{
    QPointer<ServiceCatalog> self(this);
    const std::optional<ManagedService> found = service(serviceId);
    if (!found)
        throw decryptionFailed();
    if (!m_legacyEncryptedServiceIDs.contains(serviceId))
        co_return *found;

    const ProtectedPayloadCrypto key = co_await m_lockManager.unlock(reason);
    if (!self)
        throw decryptionFailed();
    co_await m_repository.migrateLegacyEncryptedRecords(
        [key](const QUuid &id, const ProtectedPayloadEnvelope &envelope) {
            return openProtectedPayload(envelope, id, ProtectedPayloadKind::service, key);
        });
    if (!self)
        throw decryptionFailed();
    // GCC 12 mis-builds a co_await inside a short-circuit condition.
    const bool reloaded = co_await reload();
    if (!reloaded)
        throw decryptionFailed();

    const std::optional<ManagedService> migrated = service(serviceId);
    if (!migrated)
        throw decryptionFailed();
    co_return *migrated;
}

QCoro::Task<ManagedService> ServiceCatalog::ensureProtectedAccess(QUuid serviceId, ProtectedUnlockReason reason)
{
    QPointer<ServiceCatalog> self(this);
    ManagedService current = co_await migrateLegacyEncryptedService(serviceId, reason);
    if (!self)
        co_return current;
    if (usesProtectedProfile(current))
        co_await m_environmentProfilesManager.unlockProfile(*current.environmentProfileId, reason);
    co_return current;
}
