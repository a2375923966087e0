#include "execution/ProcessRunnerError.h"

namespace {
QString describe(ProcessRunnerError::Case errorCase, const QString &launchMessage)
{
    using Case = ProcessRunnerError::Case;
    switch (errorCase) {
    case Case::launchFailed:
        return launchMessage;
    case Case::missingExecutable:
        return QStringLiteral("No executable or command was provided to launch.");
    case Case::ptyFailed:
        return QStringLiteral("Failed to allocate a pseudo-terminal for the process.");
    }
    return {};
}
} // namespace

ProcessRunnerError::ProcessRunnerError(Case errorCase, QString launchMessage)
    : std::runtime_error(describe(errorCase, launchMessage).toStdString()),
      m_case(errorCase),
      m_launchMessage(std::move(launchMessage))
{}

QString ProcessRunnerError::errorDescription() const
{
    return describe(m_case, m_launchMessage);
}
