#pragma once

#include <QString>

#include <stdexcept>

// Why a service could not be handed to a terminal window. The service manager
// reports it as its own invalidEnvironmentKey(key()) or launchFailed(launchMessage()).
class TerminalLaunchError : public std::runtime_error {
public:
    enum class Case { invalidEnvironmentKey, launchFailed };

    static TerminalLaunchError invalidEnvironmentKey(const QString &key);
    static TerminalLaunchError launchFailed(const QString &message);

    Case errorCase() const { return m_case; }
    // The variable name that cannot be exported, as given.
    QString key() const { return m_case == Case::invalidEnvironmentKey ? m_payload : QString(); }
    // What went wrong with the launch, without the "Failed to launch: " lead-in.
    QString launchMessage() const { return m_case == Case::launchFailed ? m_payload : QString(); }
    // The text a person reads.
    QString message() const;

private:
    TerminalLaunchError(Case errorCase, QString payload);

    Case m_case;
    QString m_payload;
};
