#pragma once

#include <QString>

#include <stdexcept>

// The one error of protected data, shared by the services and profiles stores.
class ProtectedProfilesError : public std::runtime_error {
public:
    enum class Case {
        keychainAccessDenied,
        authenticationCanceled,
        authenticationUnavailable,
        authenticationFailed,
        invalidKey,
        encryptionFailed,
        decryptionFailed,
        locked,
    };

    explicit ProtectedProfilesError(Case errorCase);
    // `status` is the keyring's error code; `platformMessage` its text, empty when it has none.
    static ProtectedProfilesError keychainAccessDenied(qint32 status, const QString &platformMessage);

    Case errorCase() const { return m_case; }
    qint32 status() const { return m_status; }
    QString errorDescription() const;
    QString message() const { return errorDescription(); }

    // Same case and, for keychainAccessDenied, the same status.
    friend bool operator==(const ProtectedProfilesError &a, const ProtectedProfilesError &b)
    {
        return a.m_case == b.m_case && (a.m_case != Case::keychainAccessDenied || a.m_status == b.m_status);
    }

private:
    ProtectedProfilesError(Case errorCase, qint32 status, QString platformMessage);

    Case m_case;
    qint32 m_status = 0;
    QString m_platformMessage;
};
