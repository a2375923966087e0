#include "records/ProtectedProfilesError.h"

namespace {
QString describe(ProtectedProfilesError::Case errorCase, qint32 status, const QString &platformMessage)
{
    using Case = ProtectedProfilesError::Case;
    switch (errorCase) {
    case Case::keychainAccessDenied:
        return QStringLiteral("Velmora could not access the encryption key in the keyring (") + QString::number(status)
               + QStringLiteral("): ")
               + (platformMessage.isEmpty() ? QStringLiteral("Unknown keyring error") : platformMessage)
               + QStringLiteral(").");
    case Case::authenticationCanceled:
        return QStringLiteral("Unlock canceled.");
    case Case::authenticationUnavailable:
        return QStringLiteral("Password authentication is not available for unlocking protected Velmora data.");
    case Case::authenticationFailed:
        return QStringLiteral("Velmora could not verify your identity.");
    case Case::invalidKey:
        return QStringLiteral("The protected profiles encryption key is invalid.");
    case Case::encryptionFailed:
        return QStringLiteral("Velmora could not encrypt the protected data.");
    case Case::decryptionFailed:
        return QStringLiteral(
            "Protected data could not be unlocked. The keyring key may be missing or the data may be corrupted.");
    case Case::locked:
        return QStringLiteral("Protected Velmora data is locked.");
    }
    return {};
}
} // namespace

ProtectedProfilesError::ProtectedProfilesError(Case errorCase)
    : ProtectedProfilesError(errorCase, 0, QString())
{}

ProtectedProfilesError::ProtectedProfilesError(Case errorCase, qint32 status, QString platformMessage)
    : std::runtime_error(describe(errorCase, status, platformMessage).toStdString()),
      m_case(errorCase),
      m_status(status),
      m_platformMessage(std::move(platformMessage))
{}

ProtectedProfilesError ProtectedProfilesError::keychainAccessDenied(qint32 status, const QString &platformMessage)
{
    return ProtectedProfilesError(Case::keychainAccessDenied, status, platformMessage);
}

QString ProtectedProfilesError::errorDescription() const
{
    return describe(m_case, m_status, m_platformMessage);
}
