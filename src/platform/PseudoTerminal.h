#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>

#include <optional>

// A new pseudo-terminal pair made ready for one child: the slave neither echoes
// input nor turns a line feed into CR LF, and the master is non-blocking.
// Every descriptor is close-on-exec from the moment it exists, so no other
// child started meanwhile inherits it.
struct PseudoTerminal {
    UniqueFd master;
    // The application's own handle on the slave, kept only until the child has
    // opened the slave itself (which makes it the child's controlling terminal).
    UniqueFd slave;
    QByteArray slavePath;

    // No value when the system has no pseudo-terminal to give.
    static std::optional<PseudoTerminal> open();
};
