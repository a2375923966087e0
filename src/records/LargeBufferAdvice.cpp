#include "records/LargeBufferAdvice.h"

#include <cstdint>

#include <sys/mman.h>

void adviseLargeBuffer(char *data, qsizetype size)
{
    constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
    if (size < qsizetype(4 * hugePage))
        return;
    // Only whole huge pages inside the buffer: never advice on memory beside it.
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t last = (start + static_cast<std::uintptr_t>(size)) & ~(hugePage - 1);
    if (first < last)
        ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}
