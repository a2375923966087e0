#include "platform/ProcessSpawn.h"

#include "platform/DescriptorLimit.h"
#include "platform/Pidfd.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

std::vector<char *> pointers(const QList<QByteArray> &items)
{
    std::vector<char *> result;
    result.reserve(size_t(items.size()) + 1);
    for (const QByteArray &item : items)
        result.push_back(const_cast<char *>(item.constData()));
    result.push_back(nullptr);
    return result;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes {};
    posix_spawn_file_actions_t actions {};
    bool attributesReady = false;
    bool actionsReady = false;
    int error = 0;

    SpawnSetup()
    {
        attributesReady = ::posix_spawnattr_init(&attributes) == 0;
        actionsReady = ::posix_spawn_file_actions_init(&actions) == 0;
        if (!attributesReady || !actionsReady)
            error = ENOMEM;
    }
    ~SpawnSetup()
    {
        if (actionsReady)
            ::posix_spawn_file_actions_destroy(&actions);
        if (attributesReady)
            ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;

    void note(int result)
    {
        if (error == 0)
            error = result;
    }
};

} // namespace

SpawnedProcess spawnProcess(const ProcessSpawnRequest &request)
{
    SpawnedProcess result;
    SpawnSetup setup;
    if (setup.error != 0) {
        result.error = setup.error;
        return result;
    }

    sigset_t none;
    sigemptyset(&none);
    // Every bit set, the C library's own reserved signals included: sigfillset
    // leaves those out, and posix_spawn would then hand them to the new
    // program ignored.
    sigset_t all;
    std::memset(&all, 0xFF, sizeof all);
    setup.note(::posix_spawnattr_setsigmask(&setup.attributes, &none));
    setup.note(::posix_spawnattr_setsigdefault(&setup.attributes, &all));
    setup.note(::posix_spawnattr_setflags(&setup.attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID));

    // The session is made before the file actions run, so opening the terminal
    // (without O_NOCTTY) gives the new session its controlling terminal.
    if (!request.terminalPath.isEmpty()) {
        setup.note(::posix_spawn_file_actions_addopen(&setup.actions, 0, request.terminalPath.constData(), O_RDWR, 0));
        setup.note(::posix_spawn_file_actions_adddup2(&setup.actions, 0, 1));
        setup.note(::posix_spawn_file_actions_adddup2(&setup.actions, 0, 2));
    } else {
        if (request.standardOutput >= 0)
            setup.note(::posix_spawn_file_actions_adddup2(&setup.actions, request.standardOutput, 1));
        if (request.standardError >= 0)
            setup.note(::posix_spawn_file_actions_adddup2(&setup.actions, request.standardError, 2));
    }
    // Moved above 3 first: a dup2 onto itself would leave it close-on-exec.
    UniqueFd descriptor3;
    if (request.descriptor3 >= 0) {
        descriptor3.reset(::fcntl(request.descriptor3, F_DUPFD_CLOEXEC, 4));
        setup.note(descriptor3.isValid() ? 0 : errno);
        setup.note(::posix_spawn_file_actions_adddup2(&setup.actions, descriptor3.get(), 3));
    }
    if (!request.workingDirectory.isEmpty())
        setup.note(::posix_spawn_file_actions_addchdir_np(&setup.actions, request.workingDirectory.constData()));
    // Whatever another library left without close-on-exec stays out of the child.
    setup.note(::posix_spawn_file_actions_addclosefrom_np(&setup.actions, descriptor3.isValid() ? 4 : 3));
    if (setup.error != 0) {
        result.error = setup.error;
        return result;
    }

    std::vector<char *> argv = pointers(request.arguments);
    std::vector<char *> envp = pointers(request.environment);
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, request.program.constData(), &setup.actions, &setup.attributes, argv.data(), envp.data());
    if (error != 0) {
        result.error = error;
        return result;
    }

    // Nobody else reaps our children, so the pid cannot have been reused yet.
    UniqueFd pidfd(Pidfd::open(pid));
    if (!pidfd.isValid()) {
        // Without a pidfd the child could not be watched safely: end it at once.
        result.error = errno;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
        return result;
    }
    // The child runs with the descriptor limit Velmora itself was started
    // with, not the raised one. posix_spawn cannot set a limit before the
    // exec, so it is set right after: a program that reads its limit in its
    // very first instant may still see the raised one.
    DescriptorLimit::restoreOriginalFor(pid);
    result.pid = pid;
    result.pidfd = std::move(pidfd);
    return result;
}
