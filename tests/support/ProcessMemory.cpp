#include "support/ProcessMemory.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Region {
    quintptr start = 0;
    quintptr end = 0;
    QString rest;
};

QList<Region> readableRegions(const QString &mapsFile)
{
    QList<Region> regions;
    QFile maps(mapsFile);
    if (!maps.open(QIODevice::ReadOnly))
        return regions;
    const QList<QByteArray> lines = maps.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2 || !fields[1].startsWith('r'))
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        if (range.size() != 2)
            continue;
        regions.append({range[0].toULongLong(nullptr, 16), range[1].toULongLong(nullptr, 16), QString::fromUtf8(line)});
    }
    return regions;
}

bool containsMasked(const char *data, size_t size, const QByteArray &maskedNeedle, char mask)
{
    const size_t length = size_t(maskedNeedle.size());
    const char first = char(maskedNeedle[0] ^ mask);
    const char *at = data;
    const char *const end = data + size;
    while (size_t(end - at) >= length) {
        at = static_cast<const char *>(std::memchr(at, first, size_t(end - at) - length + 1));
        if (!at)
            return false;
        size_t matched = 1;
        while (matched < length && char(at[matched] ^ mask) == maskedNeedle[qsizetype(matched)])
            ++matched;
        if (matched == length)
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
    constexpr size_t chunk = size_t(1) << 20;
    // Reserved address space (sanitizer shadow, say) is not worth reading.
    constexpr quintptr largestRegion = quintptr(1) << 30;
    QByteArray buffer(qsizetype(chunk + size_t(maskedNeedle.size())), Qt::Uninitialized);
    bool found = false;
    for (const Region &region : readableRegions(QStringLiteral("/proc/self/maps"))) {
        if (found || region.end - region.start > largestRegion || region.rest.contains(QLatin1String("[vvar")))
            continue;
        for (quintptr at = region.start; at < region.end && !found; at += chunk) {
            const size_t want = size_t(std::min<quintptr>(region.end - at, chunk + size_t(maskedNeedle.size())));
            const ssize_t got = ::pread(memory, buffer.data(), want, off_t(at));
            if (got <= 0)
                break;
            found = containsMasked(buffer.constData(), size_t(got), maskedNeedle, mask);
        }
    }
    std::memset(buffer.data(), 0, size_t(buffer.size()));
    ::close(memory);
    return found;
}

bool isLeftOutOfCoreDumps(const void *address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return false;
    const quintptr wanted = reinterpret_cast<quintptr>(address);
    bool inside = false;
    const QList<QByteArray> lines = smaps.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray first = line.split(' ').value(0);
        const QList<QByteArray> range = first.split('-');
        if (range.size() == 2 && !first.endsWith(':')) {
            bool okStart = false, okEnd = false;
            const quintptr start = range[0].toULongLong(&okStart, 16);
            const quintptr end = range[1].toULongLong(&okEnd, 16);
            inside = okStart && okEnd && wanted >= start && wanted < end;
        } else if (inside && line.startsWith("VmFlags:")) {
            return line.split(' ').contains("dd");
        }
    }
    return false;
}
