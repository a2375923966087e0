#include "platform/DescriptorLimit.h"

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> raised {false};
rlimit startLimit {};

} // namespace

bool DescriptorLimit::raiseForThisProcess()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    startLimit = limit;
    if (limit.rlim_cur == limit.rlim_max) {
        raised.store(true, std::memory_order_release);
        return true;
    }
    rlimit wanted = limit;
    wanted.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &wanted) != 0)
        return false;
    raised.store(true, std::memory_order_release);
    return true;
}

std::optional<rlimit> DescriptorLimit::original()
{
    if (!raised.load(std::memory_order_acquire))
        return std::nullopt;
    return startLimit;
}

int DescriptorLimit::restoreOriginalFor(pid_t child)
{
    const std::optional<rlimit> limit = original();
    if (!limit || child <= 0)
        return 0;
    return ::prlimit(child, RLIMIT_NOFILE, &*limit, nullptr) == 0 ? 0 : errno;
}
