#pragma once

#include "profiles/ProtectedUnlockReason.h"
#include "records/ManagedService.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <optional>

class EnvironmentProfilesManager;
class ProtectedProfilesLockManager;
class ServiceRepository;
struct LoadedServices;

// The services as services.json holds them, ordered by name (localized,
// case-insensitive), and the ids of those still sealed the legacy way. Every
// change goes to the store first and is then read back whole, so the list is
// always what the disk holds. Main thread.
class ServiceCatalog final : public QObject {
    Q_OBJECT

public:
    // The stores and managers must outlive the catalog.
    ServiceCatalog(ServiceRepository &repository, EnvironmentProfilesManager &environmentProfilesManager,
                   ProtectedProfilesLockManager &lockManager, QObject *parent = nullptr);

    const QList<ManagedService> &services() const { return m_services; }
    const QSet<QUuid> &legacyEncryptedServiceIDs() const { return m_legacyEncryptedServiceIDs; }
    std::optional<ManagedService> service(const QUuid &id) const;
    // Whether the service's environment profile is locked right now.
    bool usesProtectedProfile(const ManagedService &service) const;

    // Each of these returns false when the catalog went away meanwhile.
    QCoro::Task<bool> reload();
    // Stamps the service as updated now, stores it and reloads.
    QCoro::Task<bool> save(ManagedService service);
    QCoro::Task<bool> remove(QUuid id);

    QCoro::Task<> migrateLegacyEncryptedServices();
    // The service as it reads once legacy records are converted (after an
    // unlock for `reason`); decryptionFailed when that fails.
    QCoro::Task<ManagedService> migrateLegacyEncryptedService(QUuid serviceId, ProtectedUnlockReason reason);
    // The service after migration, with its environment profile unlocked.
    QCoro::Task<ManagedService> ensureProtectedAccess(QUuid serviceId, ProtectedUnlockReason reason);

Q_SIGNALS:
    void servicesChanged();
    void legacyEncryptedServiceIDsChanged();

private:
    void publish(LoadedServices loaded);

    ServiceRepository &m_repository;
    EnvironmentProfilesManager &m_environmentProfilesManager;
    ProtectedProfilesLockManager &m_lockManager;
    QList<ManagedService> m_services;
    QSet<QUuid> m_legacyEncryptedServiceIDs;
};
