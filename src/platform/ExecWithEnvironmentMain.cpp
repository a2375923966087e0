// velmora-exec-environment PROGRAM [ARGUMENT…]
//
// Runs PROGRAM with exactly the environment held on descriptor 3: entries
// "NAME=value", each ended by a NUL. A shell could only pass such an
// environment on through its own assignments, and a shell keeps its own value
// for a name it holds read-only or manages itself (bash: SHELLOPTS, UID, PPID,
// `_`) and cannot name others at all; this program hands the entries to
// execve untouched. Descriptor 3 is closed before PROGRAM starts. No Qt and
// nothing of ours: it runs between sudo's check and the command's shell.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

constexpr int environmentDescriptor = 3;
constexpr int cannotRun = 127;

bool readAll(int descriptor, std::vector<char> &bytes)
{
    char chunk[16384];
    for (;;) {
        const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
        if (count == 0)
            return true;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
}

// Pointers into `bytes`, whose last entry ends in a NUL (one is added where it does not).
std::vector<char *> entriesIn(std::vector<char> &bytes)
{
    if (!bytes.empty() && bytes.back() != '\0')
        bytes.push_back('\0');
    std::vector<char *> entries;
    for (size_t begin = 0; begin < bytes.size();) {
        char *entry = bytes.data() + begin;
        const size_t length = std::strlen(entry);
        if (std::strchr(entry, '=') != nullptr && entry[0] != '=')
            entries.push_back(entry);
        begin += length + 1;
    }
    entries.push_back(nullptr);
    return entries;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: velmora-exec-environment PROGRAM [ARGUMENT…] (the environment on descriptor 3)\n", stderr);
        return cannotRun;
    }
    std::vector<char> bytes;
    if (!readAll(environmentDescriptor, bytes)) {
        std::fprintf(stderr, "velmora-exec-environment: could not read descriptor 3: %s\n", std::strerror(errno));
        return cannotRun;
    }
    ::close(environmentDescriptor);
    std::vector<char *> environment = entriesIn(bytes);
    ::execve(argv[1], argv + 1, environment.data());
    std::fprintf(stderr, "velmora-exec-environment: could not start %s: %s\n", argv[1], std::strerror(errno));
    return cannotRun;
}
