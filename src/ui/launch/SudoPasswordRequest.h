#pragma once

#include "execution/CommandThreatApproval.h"
#include "ui/launch/SudoLaunchAction.h"

#include <QString>
#include <QUuid>

#include <optional>

// A launch that waits for the sudo password of its command. Holds copies, not
// the service: the service may change or vanish while the prompt is open.
struct SudoPasswordRequest {
    QUuid serviceId;
    QString serviceName;
    SudoLaunchAction action = SudoLaunchAction::start;
    // Present once the user accepted the command's findings with "Run Anyway".
    std::optional<CommandThreatApproval> commandThreatApproval;

    // "start-<UUID>" or "restart-<UUID>": a start and a restart of one service
    // are different prompts, an approval does not make a new one.
    QString id() const;

    friend bool operator==(const SudoPasswordRequest &, const SudoPasswordRequest &);
};

size_t qHash(const SudoPasswordRequest &request, size_t seed = 0);
