#include "platform/UserAccount.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

std::optional<UserAccount> UserAccount::of(uid_t uid)
{
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? size_t(suggested) : 1024);
    passwd entry {};
    passwd *found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found)
        return std::nullopt;
    const auto decoded = [](const char *text) { return text ? QFile::decodeName(text) : QString(); };
    return UserAccount {decoded(found->pw_name), decoded(found->pw_dir), decoded(found->pw_shell)};
}
