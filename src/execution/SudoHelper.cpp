#include "execution/SudoHelper.h"

#include "execution/ServiceManagerError.h"
#include "platform/UserAccount.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SudoHelper {

namespace {

QString quoted(const QString &path)
{
    return QStringLiteral("“") + path + QStringLiteral("”");
}

// The user's primary group with no other member, as a private-group umask
// (002) leaves the user's build folders writable by it.
bool isUsersOwnGroup(gid_t gid)
{
    if (gid != ::getgid())
        return false;
    const long suggested = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? size_t(suggested) : 1024);
    group entry {};
    group *found = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    const std::optional<UserAccount> user = UserAccount::of(::getuid());
    if (!found || !user)
        return false;
    for (char **member = found->gr_mem; *member != nullptr; ++member) {
        if (QFile::decodeName(*member) != user->name)
            return false;
    }
    return true;
}

bool onlyUserOrRootMayWrite(const struct stat &info)
{
    if (info.st_uid != ::getuid() && info.st_uid != 0)
        return false; // its owner may change its mode
    if ((info.st_mode & S_IWOTH) != 0)
        return false;
    return (info.st_mode & S_IWGRP) == 0 || isUsersOwnGroup(info.st_gid);
}

Lookup refused(const QString &problem, const QString &path)
{
    return {QString(), problem.arg(quoted(path))};
}

Lookup check(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    if (::stat(encoded.constData(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(encoded.constData(), X_OK) != 0)
        return refused(QStringLiteral("Velmora's sudo helper %1 is not a program you may run."), path);
    if (!onlyUserOrRootMayWrite(info))
        return refused(QStringLiteral("Velmora's sudo helper %1 can be changed by another user."), path);
    struct stat folder {};
    if (::stat(QFile::encodeName(QFileInfo(path).path()).constData(), &folder) != 0 || !onlyUserOrRootMayWrite(folder))
        return refused(QStringLiteral("Velmora's sudo helper %1 lies in a folder another user can write."), path);
    return {path, QString()};
}

} // namespace

QStringList candidates()
{
    QStringList paths;
    if (const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath(); !folder.isEmpty())
        paths.append(folder + QLatin1Char('/') + fileName);
    paths.append(QStringLiteral(VELMORA_EXEC_ENVIRONMENT));
    paths.removeDuplicates();
    return paths;
}

Lookup find(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        // A link is followed once, here: what runs is what was checked.
        if (const QString path = QFileInfo(candidate).canonicalFilePath(); !path.isEmpty())
            return check(path);
    }
    QStringList looked;
    for (const QString &candidate : candidates)
        looked.append(quoted(candidate));
    return {QString(), QStringLiteral("Velmora's sudo helper is missing (looked for %1); it must sit beside the "
                                      "velmora binary.")
                           .arg(looked.join(QStringLiteral(", ")))};
}

QString require(const QStringList &candidates)
{
    const Lookup helper = find(candidates);
    if (!helper.problem.isEmpty())
        throw ServiceManagerError::launchFailed(helper.problem);
    return helper.path;
}

} // namespace SudoHelper
