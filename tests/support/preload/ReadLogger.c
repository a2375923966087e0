#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

/* What a same-user program could put in a profile's LD_PRELOAD: every byte the
   process reads goes to the file named by $VELMORA_READ_LOG. */
ssize_t read(int fd, void *buffer, size_t size)
{
    static ssize_t (*next)(int, void *, size_t);
    if (!next)
        *(void **)&next = dlsym(RTLD_NEXT, "read");
    const ssize_t count = next(fd, buffer, size);
    const char *path = getenv("VELMORA_READ_LOG");
    if (count > 0 && path) {
        const int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (log >= 0) {
            (void)!write(log, buffer, (size_t)count);
            close(log);
        }
    }
    return count;
}
