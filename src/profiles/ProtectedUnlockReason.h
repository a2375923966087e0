#pragma once

#include <QString>

// Why an unlock of protected data is asked for; its text completes the
// sentence "Velmora is trying to …" in the password prompt, the names in it
// on one line.
struct ProtectedUnlockReason {
    enum class Case {
        viewProfile,
        editProfile,
        profileUsedBy,
        launchService,
        migrateLegacyServices,
        enableProtection,
        disableProtection,
    };

    Case reasonCase = Case::migrateLegacyServices;
    QString serviceName;
    QString profileName;

    static ProtectedUnlockReason viewProfile(const QString &profileName);
    static ProtectedUnlockReason editProfile(const QString &profileName);
    static ProtectedUnlockReason profileUsedBy(const QString &serviceName, const QString &profileName);
    static ProtectedUnlockReason launchService(const QString &serviceName, const QString &profileName);
    static ProtectedUnlockReason migrateLegacyServices();
    static ProtectedUnlockReason enableProtection();
    static ProtectedUnlockReason disableProtection();

    QString text() const;

    friend bool operator==(const ProtectedUnlockReason &, const ProtectedUnlockReason &) = default;
};
