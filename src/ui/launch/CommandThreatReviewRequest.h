#pragma once

#include "execution/CommandThreatAssessment.h"
#include "ui/launch/SudoLaunchAction.h"

#include <QString>
#include <QUuid>

// A launch stopped by the threat scan, waiting for the user to review the
// command's findings; "Run Anyway" resumes it with `action`.
struct CommandThreatReviewRequest {
    QUuid serviceId;
    QString serviceName;
    SudoLaunchAction action = SudoLaunchAction::start;
    CommandThreatAssessment assessment;

    // "<action>-<UUID>-<fingerprint>".
    QString id() const;
    // A critical finding: the review can only be closed, never overridden.
    bool isBlocked() const { return assessment.hasCriticalFinding(); }

    friend bool operator==(const CommandThreatReviewRequest &, const CommandThreatReviewRequest &);
};

size_t qHash(const CommandThreatReviewRequest &request, size_t seed = 0);
