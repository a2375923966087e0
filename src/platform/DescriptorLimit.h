#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>

// The limit on open descriptors. Each running service costs the supervisor a
// few (output pipe, pidfd, pseudo-terminal), so Velmora raises its own soft
// limit to the hard one at start; the programs it launches get back the soft
// limit it was started with, which is what they were written for (a program
// using select() breaks past 1024).
class DescriptorLimit {
public:
    // Raises this process's soft limit to the hard limit and remembers the
    // original. Call once, first thing in main. Returns false when the limit
    // could not be read or raised (the process goes on with what it has).
    static bool raiseForThisProcess();
    // The soft and hard limits this process was started with; none when the
    // limit was never raised.
    static std::optional<rlimit> original();
    // Gives a child the original limit; nothing when it was never raised.
    // Returns 0 or the errno of the failure.
    static int restoreOriginalFor(pid_t child);
};
