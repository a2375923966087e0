#include "platform/KeychainError.h"

namespace {
QString describe(KeychainError::Case errorCase, qint32 status)
{
    using Case = KeychainError::Case;
    switch (errorCase) {
    case Case::unhandled:
        // A status number tells nothing when there is no keyring to ask at all.
        if (status == KeychainError::noSecretServiceStatus)
            return QStringLiteral("No keyring answers on the session bus.");
        return QStringLiteral("Keyring error (") + QString::number(status) + QStringLiteral(").");
    case Case::userDenied:
        return QStringLiteral("Keyring access was denied. Velmora needs permission to store and read secret "
                              "environment variables.");
    case Case::authFailed:
        return QStringLiteral("Velmora can’t access the keyring. Permission may have been denied earlier.");
    case Case::interactionNotAllowed:
        return QStringLiteral("Velmora can’t access the keyring right now because the system blocked the unlock "
                              "prompt.");
    }
    return {};
}
} // namespace

KeychainError::KeychainError(Case errorCase, qint32 status, QString systemMessage)
    : std::runtime_error(describe(errorCase, status).toStdString()),
      m_case(errorCase),
      m_status(status),
      m_systemMessage(std::move(systemMessage))
{}

QString KeychainError::errorDescription() const
{
    return describe(m_case, m_status);
}

QString KeychainError::recoverySuggestion() const
{
    switch (m_case) {
    case Case::unhandled:
        if (m_status == noSecretServiceStatus)
            return QStringLiteral("Velmora needs a running keyring that offers the Secret Service (for example GNOME "
                                  "Keyring, or KWallet with its Secret Service support). Start one, then try again.");
        return QStringLiteral("Try again. If it keeps failing, open your keyring manager and check items for Velmora.");
    case Case::userDenied:
    case Case::authFailed:
        return QStringLiteral("Try again and unlock the keyring when the system asks. If you cancelled that prompt "
                              "before, open your keyring manager, unlock the default keyring, and make sure the "
                              "items for “Velmora” are there — then retry.");
    case Case::interactionNotAllowed:
        return QStringLiteral("Unlock your session, return to Velmora, and try again so the keyring prompt can "
                              "appear.");
    }
    return {};
}

QString KeychainError::fullMessage() const
{
    QString text = errorDescription();
    if (m_case != Case::unhandled)
        text += QStringLiteral(" Services that use secret values won't work until keyring access is enabled.");
    return text + QLatin1Char(' ') + recoverySuggestion();
}
