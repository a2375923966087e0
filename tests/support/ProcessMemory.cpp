#include "support/ProcessMemory.h"

#include <QFile>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Where the masked needle lies in readable (or writable private) mappings,
// read chunk by chunk through /proc/self/mem, up to `most` places. Compared
// byte by byte through the mask: XOR-ing the buffer in place would put a plain
// copy where a later read could find it. The search's own buffer is skipped.
QList<quintptr> findInMemory(const QByteArray &maskedNeedle, char mask, bool writableOnly, qsizetype most)
{
    QList<quintptr> found;
    if (maskedNeedle.isEmpty())
        return found;
    if (most > 1)
        found.reserve(256);
    // Every block is taken up front, and the mappings are parsed in place: a
    // block taken on the way could be, and overwrite, a freed one sought.
    constexpr quintptr chunk = quintptr(1) << 20;
    QByteArray maps(qsizetype(chunk), '\0');
    QByteArray buffer(qsizetype(chunk) + maskedNeedle.size(), Qt::Uninitialized);
    const int file = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    for (qsizetype size = 0, got = 1; file >= 0 && got > 0 && size < maps.size() - 1; size += got)
        got = std::max<ssize_t>(::read(file, maps.data() + size, size_t(maps.size() - 1 - size)), 0);
    if (file >= 0)
        ::close(file);
    const int memory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    const char *const data = buffer.constData();
    const char first = char(maskedNeedle.front() ^ mask);
    char *rest = nullptr;
    for (char *line = ::strtok_r(maps.data(), "\n", &rest); line && memory >= 0;
         line = ::strtok_r(nullptr, "\n", &rest)) {
        uintptr_t start = 0, end = 0;
        char permissions[5] = {};
        // Skipped too: [vvar] and the like, and anything larger than a mapping
        // could be (the sanitizers' reserved address space).
        if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %4c", &start, &end, permissions) != 3 || permissions[0] != 'r'
            || (writableOnly && (permissions[1] != 'w' || permissions[3] != 'p')) || std::strstr(line, "[vvar")
            || end - start > chunk << 10)
            continue;
        for (quintptr at = start; at < end && found.size() < most; at += chunk) {
            const ssize_t got = ::pread(memory, buffer.data(),
                                        size_t(std::min<quintptr>(end - at, quintptr(buffer.size()))), off_t(at));
            if (got < maskedNeedle.size())
                break;
            // A copy that starts past the chunk is the next chunk's to find.
            const char *const last = data + std::min<qsizetype>(qsizetype(chunk), got - maskedNeedle.size() + 1);
            for (const char *next = data; next < last && found.size() < most; ++next) {
                next = static_cast<const char *>(std::memchr(next, first, size_t(last - next)));
                if (!next)
                    break;
                qsizetype matched = 1;
                while (matched < maskedNeedle.size() && char(next[matched] ^ mask) == maskedNeedle[matched])
                    ++matched;
                const quintptr address = at + quintptr(next - data);
                if (matched == maskedNeedle.size() && address - quintptr(data) >= quintptr(buffer.size()))
                    found.append(address);
            }
        }
    }
    buffer.fill('\0');
    if (memory >= 0)
        ::close(memory);
    return found;
}

} // namespace

bool processMemoryContains(const QByteArray &maskedNeedle, char mask)
{
    return !findInMemory(maskedNeedle, mask, false, 1).isEmpty();
}

QList<quintptr> writableMemoryCopies(const QByteArray &maskedNeedle, char mask)
{
    return findInMemory(maskedNeedle, mask, true, std::numeric_limits<qsizetype>::max());
}

bool isLeftOutOfCoreDumps(const void *address)
{
    const auto wanted = reinterpret_cast<uintptr_t>(address);
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    bool holds = false; // whether the mapping the lines describe holds `address`
    for (const QByteArray &line : smaps.open(QIODevice::ReadOnly) ? smaps.readAll().split('\n') : QByteArrayList()) {
        uintptr_t start = 0, end = 0;
        if (std::sscanf(line.constData(), "%" SCNxPTR "-%" SCNxPTR, &start, &end) == 2)
            holds = wanted >= start && wanted < end;
        else if (holds && line.startsWith("VmFlags:"))
            return line.split(' ').contains("dd");
    }
    return false;
}
