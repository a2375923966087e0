#include "execution/TerminalLaunchError.h"

namespace {
QString describe(TerminalLaunchError::Case errorCase, const QString &payload)
{
    switch (errorCase) {
    case TerminalLaunchError::Case::invalidEnvironmentKey:
        return QStringLiteral("Invalid environment variable key \u201C") + payload + QStringLiteral("\u201D.");
    case TerminalLaunchError::Case::launchFailed:
        return QStringLiteral("Failed to launch: ") + payload;
    }
    return {};
}
} // namespace

TerminalLaunchError::TerminalLaunchError(Case errorCase, QString payload)
    : std::runtime_error(describe(errorCase, payload).toStdString()),
      m_case(errorCase),
      m_payload(std::move(payload))
{}

TerminalLaunchError TerminalLaunchError::invalidEnvironmentKey(const QString &key)
{
    return TerminalLaunchError(Case::invalidEnvironmentKey, key);
}

TerminalLaunchError TerminalLaunchError::launchFailed(const QString &message)
{
    return TerminalLaunchError(Case::launchFailed, message);
}

QString TerminalLaunchError::message() const
{
    return describe(m_case, m_payload);
}
