#pragma once

#include "platform/SensitiveBytes.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// What to run for one child.
struct ProcessLaunchConfiguration {
    ProcessLaunchConfiguration() = default;
    ProcessLaunchConfiguration(const ProcessLaunchConfiguration &) = default;
    ProcessLaunchConfiguration(ProcessLaunchConfiguration &&) = default;
    ProcessLaunchConfiguration &operator=(const ProcessLaunchConfiguration &) = default;
    ProcessLaunchConfiguration &operator=(ProcessLaunchConfiguration &&) = default;
    // The descriptor's content, the command's environment, may hold decrypted
    // values: its last holder wipes it.
    ~ProcessLaunchConfiguration()
    {
        if (descriptor3Content)
            SensitiveBytes::wipe(*descriptor3Content);
    }

    // A file URL of the program to run.
    std::optional<QUrl> executableURL;
    // The program's arguments without a shell; with a shell and no rawCommand,
    // the words quoted into the shell's command after the executable.
    QStringList arguments;
    // One shell command line, handed to the shell unchanged.
    std::optional<QString> rawCommand;
    // Empty or absent: the application's current folder.
    std::optional<QString> workingDirectory;
    // Laid over the application's own environment.
    QMap<QString, QString> environment;
    // Left out of the child's environment, whether the application's or laid over.
    QStringList removedEnvironment;
    // The child's environment is `environment` alone: nothing of the
    // application's, nothing added.
    bool environmentOnly = false;
    // Bytes the child reads from its descriptor 3: a sealed file in memory,
    // never on disk, that the application closes once the child has started.
    std::optional<QByteArray> descriptor3Content;
    // Run through the login shell at shellPath with -lc.
    bool useShell = false;
    QString shellPath;
    // A new pseudo-terminal rather than pipes for standard output and error.
    bool usePseudoTerminal = false;

    friend bool operator==(const ProcessLaunchConfiguration &, const ProcessLaunchConfiguration &) = default;
};
