#include "platform/ProcFileSystem.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <limits>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Files under /proc and /sys report a size of 0, so they are read until the
// end rather than by their size. `limit` caps what is kept of large files.
std::optional<QByteArray> readWholeFile(const QByteArray &path, qsizetype limit = 1 << 20)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        bytes.append(buffer, std::min<qsizetype>(count, limit - bytes.size()));
        if (bytes.size() >= limit)
            break;
    }
    ::close(fd);
    return bytes;
}

QByteArray processFile(const QString &procRoot, qint32 pid, const char *name)
{
    return QFile::encodeName(procRoot) + '/' + QByteArray::number(pid) + '/' + name;
}

std::optional<quint64> parseUnsigned(std::string_view text)
{
    quint64 value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Splits at runs of blanks, dropping empty words.
class Words {
public:
    explicit Words(std::string_view text)
        : m_rest(text)
    {}

    std::optional<std::string_view> next()
    {
        size_t start = 0;
        while (start < m_rest.size() && isBlank(m_rest[start]))
            ++start;
        if (start == m_rest.size())
            return std::nullopt;
        size_t end = start;
        while (end < m_rest.size() && !isBlank(m_rest[end]))
            ++end;
        const std::string_view word = m_rest.substr(start, end - start);
        m_rest.remove_prefix(end);
        return word;
    }

private:
    std::string_view m_rest;
};

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// The value of "Key:  1234 kB" style lines, or of "key 1234" lines.
std::optional<quint64> fieldValue(std::string_view text, std::string_view key)
{
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(position, end - position);
        if (line.size() > key.size() && line.substr(0, key.size()) == key
            && (line[key.size()] == ':' || isBlank(line[key.size()]))) {
            Words words(line.substr(key.size() + 1));
            if (const auto word = words.next())
                return parseUnsigned(*word);
            return std::nullopt;
        }
        position = end + 1;
    }
    return std::nullopt;
}

bool isDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A /proc/<pid>/stat line. The name sits in parentheses and may itself hold
// spaces and ")".
std::optional<ProcFileSystem::ProcessStat> parseProcessStat(std::string_view text)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return std::nullopt;

    ProcFileSystem::ProcessStat stat;
    stat.name = QByteArray(text.data() + open + 1, static_cast<qsizetype>(close - open - 1));
    // Fields after the name, counted from 0: state, ppid, pgrp, session, tty_nr,
    // tpgid, flags, minflt, cminflt, majflt, cmajflt, utime, stime, cutime,
    // cstime, priority, nice, num_threads, itrealvalue, starttime, vsize, rss.
    Words words(text.substr(close + 1));
    std::optional<quint64> utime, stime, start, rss;
    for (int index = 0; index <= 21; ++index) {
        const auto word = words.next();
        if (!word)
            return std::nullopt;
        switch (index) {
        case 0:
            stat.state = word->empty() ? '?' : word->front();
            break;
        case 1:
            stat.parent = qint32(parseUnsigned(*word).value_or(0));
            break;
        case 2:
            stat.processGroup = qint32(parseUnsigned(*word).value_or(0));
            break;
        case 3:
            stat.session = qint32(parseUnsigned(*word).value_or(0));
            break;
        case 5:
            // -1 when the process has no controlling terminal.
            stat.terminalForegroundGroup = qint32(parseUnsigned(*word).value_or(0));
            break;
        case 11:
            utime = parseUnsigned(*word);
            break;
        case 12:
            stime = parseUnsigned(*word);
            break;
        case 19:
            start = parseUnsigned(*word);
            break;
        case 21:
            rss = parseUnsigned(*word);
            break;
        default:
            break;
        }
    }
    if (!utime || !stime || !start)
        return std::nullopt;
    stat.cpuTicks = *utime + *stime;
    stat.startTicks = *start;
    stat.residentPages = rss.value_or(0);
    return stat;
}

} // namespace

ProcFileSystem ProcFileSystem::system()
{
    ProcFileSystem fileSystem;
    if (const long ticks = ::sysconf(_SC_CLK_TCK); ticks > 0)
        fileSystem.clockTicksPerSecond = ticks;
    if (const long page = ::sysconf(_SC_PAGESIZE); page > 0)
        fileSystem.pageSize = page;
    return fileSystem;
}

quint64 ProcFileSystem::physicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0)
        return 0;
    return static_cast<quint64>(pages) * static_cast<quint64>(page);
}

std::optional<ProcFileSystem::MemoryInfo> ProcFileSystem::readMemoryInfo() const
{
    const auto bytes = readWholeFile(QFile::encodeName(procRoot) + "/meminfo");
    if (!bytes)
        return std::nullopt;
    const auto total = fieldValue(view(*bytes), "MemTotal");
    if (!total)
        return std::nullopt;
    // The kernel counts in KiB; anything that would overflow in bytes is not a real reading.
    constexpr quint64 limit = std::numeric_limits<quint64>::max() / 1024;
    if (*total > limit)
        return std::nullopt;
    MemoryInfo info;
    info.totalBytes = *total * 1024;
    if (const auto available = fieldValue(view(*bytes), "MemAvailable"); available && *available <= limit)
        info.availableBytes = *available * 1024;
    return info;
}

std::optional<ProcFileSystem::CpuTimes> ProcFileSystem::readCpuTimes() const
{
    // The machine-wide line comes first; the rest of the file is not needed.
    const auto bytes = readWholeFile(QFile::encodeName(procRoot) + "/stat", 4096);
    if (!bytes)
        return std::nullopt;
    std::string_view text = view(*bytes);
    text = text.substr(0, text.find('\n'));
    Words words(text);
    if (words.next() != std::string_view("cpu"))
        return std::nullopt;
    quint64 values[8] = {};
    int count = 0;
    for (; count < 8; ++count) {
        const auto word = words.next();
        if (!word)
            break;
        const auto value = parseUnsigned(*word);
        if (!value)
            return std::nullopt;
        values[count] = *value;
    }
    // Very old kernels print only user, nice, system and idle.
    if (count < 4)
        return std::nullopt;
    return CpuTimes {values[0], values[1], values[2], values[3], values[4], values[5], values[6], values[7]};
}

std::optional<qint64> ProcFileSystem::readBootTime() const
{
    const auto bytes = readWholeFile(QFile::encodeName(procRoot) + "/stat");
    if (!bytes)
        return std::nullopt;
    const auto value = fieldValue(view(*bytes), "btime");
    // Anything past the year 33000 is not a real boot time.
    if (!value || *value > 1'000'000'000'000)
        return std::nullopt;
    return static_cast<qint64>(*value);
}

std::optional<ProcFileSystem::ProcessStat> ProcFileSystem::readProcessStat(qint32 pid) const
{
    // One read: the kernel hands the whole line over at once, and the fields
    // needed come long before the end of the buffer.
    const int fd = ::open(processFile(procRoot, pid, "stat").constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[1024];
    ssize_t count = 0;
    do {
        count = ::read(fd, buffer, sizeof buffer);
    } while (count < 0 && errno == EINTR);
    ::close(fd);
    if (count <= 0)
        return std::nullopt;
    return parseProcessStat(std::string_view(buffer, static_cast<size_t>(count)));
}

QList<ProcFileSystem::ProcessStatEntry> ProcFileSystem::readAllProcessStats() const
{
    // Called once a second over every process: no allocation per process but
    // the entry itself.
    QList<ProcessStatEntry> entries;
    const int root = ::open(QFile::encodeName(procRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return entries;
    DIR *folder = ::fdopendir(root);
    if (!folder) {
        ::close(root);
        return entries;
    }
    char path[sizeof(dirent::d_name) + sizeof "/stat"];
    char buffer[1024];
    while (const dirent *entry = ::readdir(folder)) {
        const std::string_view name(entry->d_name);
        if (!isDigits(name) || name.size() > 10)
            continue;
        const auto pid = parseUnsigned(name);
        if (!pid || *pid > static_cast<quint64>(std::numeric_limits<qint32>::max()))
            continue;
        std::snprintf(path, sizeof path, "%s/stat", entry->d_name);
        const int fd = ::openat(root, path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t count = 0;
        do {
            count = ::read(fd, buffer, sizeof buffer);
        } while (count < 0 && errno == EINTR);
        ::close(fd);
        if (count <= 0)
            continue;
        if (auto stat = parseProcessStat(std::string_view(buffer, static_cast<size_t>(count))))
            entries.append({static_cast<qint32>(*pid), std::move(*stat)});
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(),
              [](const ProcessStatEntry &a, const ProcessStatEntry &b) { return a.pid < b.pid; });
    return entries;
}

std::optional<double> ProcFileSystem::readUptime() const
{
    const auto bytes = readWholeFile(QFile::encodeName(procRoot) + "/uptime", 256);
    if (!bytes)
        return std::nullopt;
    bool ok = false;
    const double seconds = bytes->left(bytes->indexOf(' ')).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return seconds;
}

std::optional<quint64> ProcFileSystem::readResidentPages(qint32 pid) const
{
    const auto bytes = readWholeFile(processFile(procRoot, pid, "statm"), 256);
    if (!bytes)
        return std::nullopt;
    Words words(view(*bytes));
    if (!words.next())
        return std::nullopt;
    const auto resident = words.next();
    return resident ? parseUnsigned(*resident) : std::nullopt;
}

std::optional<QString> ProcFileSystem::readExecutablePath(qint32 pid) const
{
    char buffer[4096];
    const ssize_t length = ::readlink(processFile(procRoot, pid, "exe").constData(), buffer, sizeof buffer);
    if (length < 1)
        return std::nullopt;
    return QString::fromUtf8(buffer, length);
}

std::optional<QString> ProcFileSystem::readCommandLine(qint32 pid) const
{
    const auto bytes = readWholeFile(processFile(procRoot, pid, "cmdline"), qsizetype {64} * 1024);
    if (!bytes)
        return std::nullopt;
    QByteArray joined = *bytes;
    while (joined.endsWith('\0'))
        joined.chop(1);
    joined.replace('\0', ' ');
    return QString::fromUtf8(joined);
}

std::optional<quint32> ProcFileSystem::readEffectiveUserId(qint32 pid) const
{
    const auto bytes = readWholeFile(processFile(procRoot, pid, "status"), qsizetype {16} * 1024);
    if (!bytes)
        return std::nullopt;
    const std::string_view text = view(*bytes);
    const size_t line = text.find("\nUid:");
    if (line == std::string_view::npos)
        return std::nullopt;
    const size_t end = text.find('\n', line + 1);
    // Real, effective, saved and file-system ids, in that order.
    Words words(text.substr(line + 5, end == std::string_view::npos ? std::string_view::npos : end - line - 5));
    words.next();
    const auto effective = words.next();
    const auto value = effective ? parseUnsigned(*effective) : std::nullopt;
    if (!value || *value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<quint32>(*value);
}

QList<qint32> ProcFileSystem::readChildren(qint32 pid) const
{
    QList<qint32> children;
    const QByteArray task = "task/" + QByteArray::number(pid) + "/children";
    if (const auto bytes = readWholeFile(processFile(procRoot, pid, task.constData()))) {
        Words words(view(*bytes));
        while (const auto word = words.next()) {
            if (const auto child = parseUnsigned(*word); child && *child <= quint64(std::numeric_limits<qint32>::max()))
                children.append(qint32(*child));
        }
        return children;
    }
    for (const ProcessStatEntry &entry : readAllProcessStats()) {
        if (entry.stat.parent == pid)
            children.append(entry.pid);
    }
    return children;
}

QList<qint32> ProcFileSystem::listProcessIds() const
{
    QList<qint32> pids;
    DIR *folder = ::opendir(QFile::encodeName(procRoot).constData());
    if (!folder)
        return pids;
    while (const dirent *entry = ::readdir(folder)) {
        const std::string_view name(entry->d_name);
        if (!isDigits(name))
            continue;
        const auto value = parseUnsigned(name);
        if (value && *value <= static_cast<quint64>(std::numeric_limits<qint32>::max()))
            pids.append(static_cast<qint32>(*value));
    }
    ::closedir(folder);
    std::sort(pids.begin(), pids.end());
    return pids;
}

QList<ProcFileSystem::ProcessFolder> ProcFileSystem::listProcessFolders() const
{
    QList<ProcessFolder> folders;
    DIR *folder = ::opendir(QFile::encodeName(procRoot).constData());
    if (!folder)
        return folders;
    while (const dirent *entry = ::readdir(folder)) {
        const std::string_view name(entry->d_name);
        if (!isDigits(name) || name.size() > 10)
            continue;
        const auto value = parseUnsigned(name);
        if (value && *value <= static_cast<quint64>(std::numeric_limits<qint32>::max()))
            folders.append({static_cast<qint32>(*value), static_cast<quint64>(entry->d_ino)});
    }
    ::closedir(folder);
    return folders;
}

QList<double> ProcFileSystem::readGpuBusyPercents() const
{
    QList<double> readings;
    const QByteArray drm = QFile::encodeName(sysRoot) + "/class/drm";
    DIR *folder = ::opendir(drm.constData());
    if (!folder)
        return readings;
    while (const dirent *entry = ::readdir(folder)) {
        // Only the cards themselves; "card0-DP-1" and the like are their connectors.
        const std::string_view name(entry->d_name);
        if (name.size() <= 4 || name.substr(0, 4) != "card" || !isDigits(name.substr(4)))
            continue;
        const QByteArray device = drm + '/' + entry->d_name + "/device";
        if (const auto status = readWholeFile(device + "/power/runtime_status", 64);
            status && status->trimmed() == "suspended")
            continue;
        const auto value = readWholeFile(device + "/gpu_busy_percent", 64);
        if (!value)
            continue;
        bool ok = false;
        const double percent = value->trimmed().toDouble(&ok);
        if (ok && std::isfinite(percent))
            readings.append(percent);
    }
    ::closedir(folder);
    return readings;
}
