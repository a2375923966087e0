#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

/* What a profile's LD_PRELOAD could load: it copies every byte the process reads to $VELMORA_READ_LOG. */
ssize_t read(int fd, void *buffer, size_t size)
{
    ssize_t (*next)(int, void *, size_t);
    *(void **)&next = dlsym(RTLD_NEXT, "read");
    const ssize_t count = next(fd, buffer, size);
    const int log = count > 0 && getenv("VELMORA_READ_LOG") ? open(getenv("VELMORA_READ_LOG"), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (log >= 0) {
        (void)!write(log, buffer, (size_t)count);
        close(log);
    }
    return count;
}
