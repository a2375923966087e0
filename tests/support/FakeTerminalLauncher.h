#pragma once

#include "platform/TerminalLauncher.h"

#include <QStringList>

#include <functional>

// Records the scripts it is asked to open instead of starting a terminal
// emulator; succeeds or fails as told, and may act on the script meanwhile.
class FakeTerminalLauncher : public TerminalLauncher {
public:
    bool launch(const QString &scriptPath) override
    {
        launched.append(scriptPath);
        if (onLaunch)
            onLaunch(scriptPath);
        return succeeds;
    }

    QStringList launched;
    bool succeeds = true;
    std::function<void(const QString &scriptPath)> onLaunch;
};
