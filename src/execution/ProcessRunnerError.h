#pragma once

#include <QString>

#include <stdexcept>

// Why a child could not be started.
class ProcessRunnerError : public std::runtime_error {
public:
    enum class Case { launchFailed, missingExecutable, ptyFailed };

    explicit ProcessRunnerError(Case errorCase, QString launchMessage = QString());
    static ProcessRunnerError launchFailed(const QString &message)
    {
        return ProcessRunnerError(Case::launchFailed, message);
    }

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    QString message() const { return errorDescription(); }

private:
    Case m_case;
    QString m_launchMessage;
};
