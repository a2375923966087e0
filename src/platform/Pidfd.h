#pragma once

#include <csignal>

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

// Process file descriptors. Called through syscall(): glibc 2.36 declares its
// wrappers without C linkage, so C++ cannot link against them.
namespace Pidfd {

// A close-on-exec descriptor that refers to the process until it is reaped; -1 with errno on failure.
inline int open(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

// Signals exactly the process the descriptor refers to, never a reuser of its pid.
inline bool sendSignal(int pidfd, int signalNumber)
{
    return ::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0) == 0;
}

} // namespace Pidfd
