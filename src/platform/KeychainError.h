#pragma once

#include <QString>

#include <stdexcept>

// The one error of keyring access. Its texts are what a person reads when
// secret values cannot be stored or read; they never hold a secret.
class KeychainError : public std::runtime_error {
public:
    enum class Case {
        unhandled,
        userDenied,
        authFailed,
        interactionNotAllowed,
    };

    // The code `unhandled` carries when no Secret Service can be reached at all
    // (no session bus, or nothing on it that provides org.freedesktop.secrets).
    // GLib error codes are never negative, so it cannot collide with one. Its
    // texts say what to start instead of showing the code.
    static constexpr qint32 noSecretServiceStatus = -1;

    // `status` is the GLib/libsecret error code behind the failure (0 when
    // there is none); it is part of the texts and of equality only for
    // `unhandled`. `systemMessage` is the keyring's own wording, kept for
    // callers that show it beside a code; it is never part of these texts.
    explicit KeychainError(Case errorCase, qint32 status = 0, QString systemMessage = {});
    static KeychainError unhandled(qint32 status, QString systemMessage = {})
    {
        return KeychainError(Case::unhandled, status, std::move(systemMessage));
    }

    Case errorCase() const { return m_case; }
    qint32 status() const { return m_status; }
    const QString &systemMessage() const { return m_systemMessage; }

    QString errorDescription() const;
    QString recoverySuggestion() const;
    // Description, the keyring-access sentence (every case but unhandled) and
    // the suggestion, joined by single spaces.
    QString fullMessage() const;
    // What a screen or banner shows for this error.
    QString message() const { return fullMessage(); }

    friend bool operator==(const KeychainError &a, const KeychainError &b)
    {
        return a.m_case == b.m_case && (a.m_case != Case::unhandled || a.m_status == b.m_status);
    }

private:
    Case m_case;
    qint32 m_status;
    QString m_systemMessage;
};
