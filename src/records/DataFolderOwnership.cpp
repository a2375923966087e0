#include "records/DataFolderOwnership.h"

#include "platform/Logging.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DataFolderOwnership {

namespace {

constexpr mode_t ownerOnly = S_IRWXU;

QString quoted(const QString &folder)
{
    return QStringLiteral("“") + folder + QStringLiteral("”");
}

} // namespace

void ensureOwnFolder(const QString &folder)
{
    // The checks and the change of mode go through one descriptor of the
    // folder the path resolves to, so a link swapped meanwhile changes nothing.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return;
        if (errno == ENOTDIR)
            throw DataFolderRefusedError(QStringLiteral("Velmora's data folder %1 is not a folder. Move it aside, "
                                                        "then open Velmora again.")
                                             .arg(quoted(folder)));
        throw DataFolderRefusedError(QStringLiteral("Velmora's data folder %1 can't be opened: %2")
                                         .arg(quoted(folder), QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    if (!known || info.st_uid != ::getuid()) {
        ::close(fd);
        throw DataFolderRefusedError(
            QStringLiteral("Velmora's data folder %1 belongs to another user, so Velmora reads nothing from it. "
                           "Move it aside or ask its owner to, then open Velmora again.")
                .arg(quoted(folder)));
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        if (::fchmod(fd, ownerOnly) == 0)
            qCInfo(lcPersistence, "Tightened the data folder's mode from %o to 700",
                   static_cast<unsigned>(info.st_mode & 07777));
        else
            qCCritical(lcPersistence, "The data folder's mode %o could not be tightened to 700: %s",
                       static_cast<unsigned>(info.st_mode & 07777), std::strerror(errno));
    }
    ::close(fd);
}

} // namespace DataFolderOwnership
