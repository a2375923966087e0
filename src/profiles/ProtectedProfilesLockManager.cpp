#include "profiles/ProtectedProfilesLockManager.h"

#include "platform/SleepNotifier.h"
#include "platform/UserActivityFilter.h"
#include "profiles/KeychainProtectedKeyStore.h"
#include "records/ProtectedProfilesError.h"

#include <QCoroFuture>
#include <QPointer>

namespace {

// Stands in when no prompt was handed in, so an unlock fails plainly instead of
// dereferencing nothing.
class UnavailableAuthenticator : public ProtectedAuthenticating {
public:
    QCoro::Task<> authenticate(QString) override
    {
        throw ProtectedProfilesError(ProtectedProfilesError::Case::authenticationUnavailable);
        co_return;
    }
};

} // namespace

ProtectedProfilesLockManager::ProtectedProfilesLockManager(std::shared_ptr<ProtectedAuthenticating> authenticator,
                                                           std::shared_ptr<ProtectedKeyProviding> keyProvider,
                                                           Clock clock, QObject *parent)
    : QObject(parent),
      m_authenticator(authenticator ? std::move(authenticator) : std::make_shared<UnavailableAuthenticator>()),
      m_keyProvider(keyProvider ? std::move(keyProvider) : std::make_shared<KeychainProtectedKeyStore>()),
      m_clock(clock ? std::move(clock) : [] { return QDateTime::currentDateTimeUtc(); }),
      m_sleepNotifier(new SleepNotifier(this)),
      m_activityFilter(new UserActivityFilter(this))
{
    m_expiryTimer.setSingleShot(true);
    m_expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_expiryTimer, &QTimer::timeout, this, &ProtectedProfilesLockManager::lock);
    connect(m_sleepNotifier, &SleepNotifier::aboutToSleep, this, &ProtectedProfilesLockManager::lock);
    connect(m_activityFilter, &UserActivityFilter::activity, this, &ProtectedProfilesLockManager::extendSession);
}

ProtectedProfilesLockManager::~ProtectedProfilesLockManager() = default;

QDateTime ProtectedProfilesLockManager::now() const
{
    return m_clock();
}

std::optional<ProtectedPayloadCrypto> ProtectedProfilesLockManager::currentSessionKey()
{
    if (m_crypto && m_expiresAt && *m_expiresAt > now()) {
        extendSession();
        return m_crypto;
    }
    if (m_isUnlocked)
        lock();
    return std::nullopt;
}

QCoro::Task<ProtectedPayloadCrypto> ProtectedProfilesLockManager::unlock(ProtectedUnlockReason reason)
{
    if (std::optional<ProtectedPayloadCrypto> key = currentSessionKey())
        co_return *key;

    QPointer<ProtectedProfilesLockManager> self = this;
    co_await m_authenticator->authenticate(reason.text());
    if (!self)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
    ProtectedPayloadCrypto key = co_await m_keyProvider->loadOrCreateMasterKey();
    if (!self)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);

    m_crypto = key;
    m_expiresAt = now().addSecs(sessionDurationSeconds);
    setUnlocked(true);
    scheduleExpiration();
    co_return key;
}

void ProtectedProfilesLockManager::extendSession()
{
    if (!m_isUnlocked)
        return;
    // A session whose time has run out by the wall clock (the timer may not have
    // fired across a suspend whose notice was missed) ends instead of being revived.
    if (m_expiresAt && *m_expiresAt <= now()) {
        lock();
        return;
    }
    m_expiresAt = now().addSecs(sessionDurationSeconds);
    scheduleExpiration();
}

void ProtectedProfilesLockManager::scheduleExpiration()
{
    m_expiryTimer.start(sessionDurationSeconds * 1000);
}

void ProtectedProfilesLockManager::lock()
{
    const bool wasUnlocked = m_isUnlocked;
    m_expiryTimer.stop();
    m_crypto.reset();
    m_expiresAt.reset();
    setUnlocked(false);
    Q_EMIT lockApplied();
    if (wasUnlocked)
        Q_EMIT protectedProfilesDidLock();
}

void ProtectedProfilesLockManager::setUnlocked(bool unlocked)
{
    if (m_isUnlocked == unlocked)
        return;
    m_isUnlocked = unlocked;
    Q_EMIT isUnlockedChanged(unlocked);
}
