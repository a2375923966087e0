#include "support/ProcessMemory.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

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

// One mapping of /proc/self/maps, as a search needs it.
struct Span {
    quintptr start = 0;
    quintptr end = 0;
    char permissions[4] = {};
    bool special = false; // [vvar] and the like
};

// Read and parsed without a block per line: a search must not take, and
// overwrite, the freed blocks it looks for. The text goes into a block of
// its own mapping, which gives back nothing the heap hands out again.
std::vector<Span> spans()
{
    std::vector<Span> result;
    const int file = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return result;
    QByteArray text(qsizetype(1) << 20, Qt::Uninitialized);
    qsizetype size = 0;
    for (ssize_t got = 1; got > 0 && size < text.size(); size += got)
        got = std::max<ssize_t>(::read(file, text.data() + size, size_t(text.size() - size)), 0);
    ::close(file);
    result.reserve(4096);
    const char *at = text.constData();
    const char *const end = at + size;
    while (at < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
        if (!lineEnd)
            lineEnd = end;
        Span span;
        const auto first = std::from_chars(at, lineEnd, span.start, 16);
        const auto second = first.ptr < lineEnd && *first.ptr == '-'
                                ? std::from_chars(first.ptr + 1, lineEnd, span.end, 16)
                                : std::from_chars_result {lineEnd, std::errc::invalid_argument};
        if (first.ec == std::errc() && second.ec == std::errc() && lineEnd - second.ptr > 5) {
            std::memcpy(span.permissions, second.ptr + 1, sizeof span.permissions);
            span.special = QByteArrayView(second.ptr, lineEnd - second.ptr).contains("[vvar");
            result.push_back(span);
        }
        at = lineEnd + 1;
    }
    return result;
}

// Reads the mappings `wanted` accepts through /proc/self/mem, chunk by chunk,
// and hands each place where the masked needle lies to `found` until it says
// it has enough. Compared byte by byte through the mask: XOR-ing the buffer in
// place would put a plain copy of the masked needle where a later read could
// find it. The search's own buffer is no copy.
template <typename Wanted, typename Found>
void findInMemory(const QByteArray &maskedNeedle, char mask, Wanted wanted, Found found)
{
    const int memory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (memory < 0 || maskedNeedle.isEmpty())
        return;
    constexpr quintptr chunk = quintptr(1) << 20;
    QByteArray buffer(qsizetype(chunk) + maskedNeedle.size(), Qt::Uninitialized);
    const auto ownStart = reinterpret_cast<quintptr>(buffer.constData());
    const auto ownEnd = ownStart + quintptr(buffer.size());
    const char first = char(maskedNeedle.front() ^ mask);
    bool enough = false;
    for (const Span &span : spans()) {
        if (!wanted(span))
            continue;
        for (quintptr at = span.start; at < span.end && !enough; at += chunk) {
            const ssize_t got = ::pread(memory, buffer.data(),
                                        size_t(std::min<quintptr>(span.end - at, quintptr(buffer.size()))), off_t(at));
            if (got < maskedNeedle.size())
                break;
            // A copy that starts past the chunk is the next chunk's to find.
            const char *const data = buffer.constData();
            const char *const last = data + std::min<qsizetype>(qsizetype(chunk), got - maskedNeedle.size() + 1);
            for (const char *next = data; next < last && !enough; ++next) {
                next = static_cast<const char *>(std::memchr(next, first, size_t(last - next)));
                if (!next)
                    break;
                qsizetype matched = 1;
                while (matched < maskedNeedle.size() && char(next[matched] ^ mask) == maskedNeedle[matched])
                    ++matched;
                const quintptr address = at + quintptr(next - data);
                if (matched == maskedNeedle.size() && (address < ownStart || address >= ownEnd))
                    enough = found(address);
            }
        }
    }
    buffer.fill('\0');
    ::close(memory);
}

bool largerThanAnyMapping(const Span &span)
{
    // Reserved address space (sanitizer shadow).
    return span.end - span.start > (quintptr(1) << 30);
}

} // namespace

bool processMemoryContains(const QByteArray &maskedNeedle, char mask)
{
    bool contains = false;
    const auto readable = [](const Span &span) {
        return span.permissions[0] == 'r' && !span.special && !largerThanAnyMapping(span);
    };
    findInMemory(maskedNeedle, mask, readable, [&contains](quintptr) { return contains = true; });
    return contains;
}

QList<quintptr> writableMemoryCopies(const QByteArray &maskedNeedle, char mask)
{
    QList<quintptr> copies;
    copies.reserve(256);
    const auto writablePrivate = [](const Span &span) {
        return span.permissions[0] == 'r' && span.permissions[1] == 'w' && span.permissions[3] == 'p'
               && !largerThanAnyMapping(span);
    };
    findInMemory(maskedNeedle, mask, writablePrivate, [&copies](quintptr address) {
        copies.append(address);
        return false;
    });
    return copies;
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
