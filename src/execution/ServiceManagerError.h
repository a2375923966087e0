#pragma once

#include "execution/CommandThreatAssessment.h"

#include <QString>

#include <stdexcept>

// The error of every service operation: its case, its payload and the text a
// person reads.
class ServiceManagerError : public std::runtime_error {
public:
    enum class Case {
        invalidEnvironmentKey,
        commandThreatReviewRequired,
        commandThreatBlocked,
        launchFailed,
        alreadyRunning,
        editingRunningService,
        notRunning,
        missingCommand,
    };

    static ServiceManagerError invalidEnvironmentKey(const QString &key);
    static ServiceManagerError commandThreatReviewRequired(const CommandThreatAssessment &assessment);
    static ServiceManagerError commandThreatBlocked(const CommandThreatAssessment &assessment);
    static ServiceManagerError launchFailed(const QString &message);
    static ServiceManagerError alreadyRunning() { return ServiceManagerError(Case::alreadyRunning); }
    static ServiceManagerError editingRunningService() { return ServiceManagerError(Case::editingRunningService); }
    static ServiceManagerError notRunning() { return ServiceManagerError(Case::notRunning); }
    static ServiceManagerError missingCommand() { return ServiceManagerError(Case::missingCommand); }

    Case errorCase() const { return m_case; }
    // The variable name of invalidEnvironmentKey, or the message of launchFailed.
    const QString &detail() const { return m_detail; }
    // The findings the review sheet shows, for the two threat cases.
    const CommandThreatAssessment &assessment() const { return m_assessment; }
    QString message() const;

private:
    explicit ServiceManagerError(Case errorCase, QString detail = QString(),
                                 CommandThreatAssessment assessment = CommandThreatAssessment());

    Case m_case;
    QString m_detail;
    CommandThreatAssessment m_assessment;
};
