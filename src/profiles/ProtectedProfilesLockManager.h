#pragma once

#include "profiles/ProtectedAuthenticating.h"
#include "profiles/ProtectedKeyProviding.h"
#include "profiles/ProtectedPayloadCrypto.h"
#include "profiles/ProtectedUnlockReason.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class SleepNotifier;
class UserActivityFilter;

// Owns the unlock session of protected data and, only while it is unlocked,
// the master key. A session lasts 300 seconds after the last unlock, extension
// or qualifying input, and ends on sleep, on an explicit lock and at expiry.
class ProtectedProfilesLockManager : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    static constexpr int sessionDurationSeconds = 300;

    // The application hands in its password prompt (the desktop layer owns the
    // dialog); without one, authentication is unavailable. Without a key provider
    // or clock: the keyring's master key and the wall clock. Tests hand in fakes.
    explicit ProtectedProfilesLockManager(std::shared_ptr<ProtectedAuthenticating> authenticator = nullptr,
                                          std::shared_ptr<ProtectedKeyProviding> keyProvider = nullptr,
                                          Clock clock = nullptr, QObject *parent = nullptr);
    ~ProtectedProfilesLockManager() override;

    bool isUnlocked() const { return m_isUnlocked; }
    std::optional<QDateTime> expiresAt() const { return m_expiresAt; }
    bool isExpiryScheduled() const { return m_expiryTimer.isActive(); }

    // The master key: at once while the session is valid (and the session is
    // extended), otherwise after the person authenticates. Throws ProtectedProfilesError.
    QCoro::Task<ProtectedPayloadCrypto> unlock(ProtectedUnlockReason reason);
    void lock();
    void extendSession();

Q_SIGNALS:
    void isUnlockedChanged(bool isUnlocked);
    // Every lock() call, also on a manager that was already locked, so that
    // holders of decrypted data forget it each time.
    void lockApplied();
    // Only when a session that was unlocked has ended.
    void protectedProfilesDidLock();

private:
    std::optional<ProtectedPayloadCrypto> currentSessionKey();
    void scheduleExpiration();
    void setUnlocked(bool unlocked);
    QDateTime now() const;

    std::shared_ptr<ProtectedAuthenticating> m_authenticator;
    std::shared_ptr<ProtectedKeyProviding> m_keyProvider;
    Clock m_clock;
    bool m_isUnlocked = false;
    std::optional<ProtectedPayloadCrypto> m_crypto;
    std::optional<QDateTime> m_expiresAt;
    QTimer m_expiryTimer;
    SleepNotifier *m_sleepNotifier = nullptr;
    UserActivityFilter *m_activityFilter = nullptr;
};
