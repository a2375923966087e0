#include "platform/SealedMemoryFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>

UniqueFd makeSealedMemoryFile(const char *name, QByteArrayView content)
{
    UniqueFd file(::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!file.isValid())
        return file;
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t count = ::write(file.get(), content.data() + written, size_t(content.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO;
            return UniqueFd();
        }
        written += count;
    }
    if (::fcntl(file.get(), F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) != 0
        || ::lseek(file.get(), 0, SEEK_SET) != 0)
        return UniqueFd();
    return file;
}
