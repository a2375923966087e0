#include "support/ProcessMemory.h"

#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Region {
    quintptr start = 0;
    quintptr end = 0;
    QByteArray line;
};

// The mappings listed in /proc/self/maps or /proc/self/smaps; in the latter,
// the lines that follow a mapping are appended to its line.
QList<Region> mappings(const char *file)
{
    QList<Region> regions;
    QFile maps(QString::fromLatin1(file));
    if (!maps.open(QIODevice::ReadOnly))
        return regions;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QByteArray first = line.left(line.indexOf(' '));
        const qsizetype dash = first.indexOf('-');
        bool okStart = false, okEnd = false;
        const quintptr start = first.left(dash).toULongLong(&okStart, 16);
        const quintptr end = first.mid(dash + 1).toULongLong(&okEnd, 16);
        if (dash > 0 && okStart && okEnd)
            regions.append({start, end, line});
        else if (!regions.isEmpty())
            regions.last().line += '\n' + line;
    }
    return regions;
}

// Compared byte by byte through the mask: XOR-ing the buffer in place would put
// a plain copy of the masked needle where a later read could find it.
bool containsMasked(QByteArrayView haystack, const QByteArray &maskedNeedle, char mask)
{
    const char first = char(maskedNeedle.front() ^ mask);
    const char *at = haystack.data();
    const char *const end = haystack.data() + haystack.size();
    while (end - at >= maskedNeedle.size()) {
        at = static_cast<const char *>(std::memchr(at, first, size_t(end - at - maskedNeedle.size() + 1)));
        if (!at)
            return false;
        qsizetype matched = 1;
        while (matched < maskedNeedle.size() && char(at[matched] ^ mask) == maskedNeedle[matched])
            ++matched;
        if (matched == maskedNeedle.size())
            return true;
        ++at;
    }
    return false;
}

} // namespace

bool processMemoryContains(const QByteArray &maskedNeedle, char mask)
{
    if (maskedNeedle.isEmpty())
        return false;
    const int memory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (memory < 0)
        return false;
    constexpr quintptr chunk = quintptr(1) << 20;
    QByteArray buffer(qsizetype(chunk) + maskedNeedle.size(), Qt::Uninitialized);
    bool found = false;
    for (const Region &region : mappings("/proc/self/maps")) {
        // Unreadable, special, or reserved address space (sanitizer shadow) is skipped.
        if (region.line.split(' ').value(1).front() != 'r' || region.line.contains("[vvar")
            || region.end - region.start > (quintptr(1) << 30))
            continue;
        for (quintptr at = region.start; at < region.end && !found; at += chunk) {
            const ssize_t got = ::pread(
                memory, buffer.data(), size_t(std::min<quintptr>(region.end - at, quintptr(buffer.size()))), off_t(at));
            if (got <= 0)
                break;
            found = containsMasked(QByteArrayView(buffer.constData(), qsizetype(got)), maskedNeedle, mask);
        }
    }
    buffer.fill('\0');
    ::close(memory);
    return found;
}

bool isLeftOutOfCoreDumps(const void *address)
{
    const auto wanted = reinterpret_cast<quintptr>(address);
    for (const Region &region : mappings("/proc/self/smaps")) {
        if (wanted >= region.start && wanted < region.end) {
            const qsizetype flags = region.line.indexOf("VmFlags:");
            return flags >= 0 && region.line.mid(flags).split('\n').first().split(' ').contains("dd");
        }
    }
    return false;
}
