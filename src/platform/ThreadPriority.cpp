#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

void makeCurrentThreadUtility(const char *name)
{
    ::pthread_setname_np(::pthread_self(), name);
    // On Linux the nice value belongs to the thread when given its thread id.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, 10);
}
