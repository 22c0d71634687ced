/* Preloaded into a child interpreter: replaces the entropy source the module
 * reads, through the C library's syscall (the getrandom system call).
 *   -DGETRANDOM_ERROR=E        the call fails with E
 *   -DGETRANDOM_BYTE_AT_A_TIME the call is interrupted by a signal once, then
 *                              gives one byte a call: 1, 2, 3, ...
 *   -DURANDOM_READ_FAILS       reading /dev/urandom, the fallback, fails with EIO
 *   -DURANDOM_AT_END           reading /dev/urandom finds its end
 *   -DURANDOM_BYTE_AT_A_TIME   reading /dev/urandom goes as GETRANDOM_BYTE_AT_A_TIME
 *   none of them               all ones first (the one start-up seed never drawn), then 7 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/syscall.h>

static inline long interrupted_then_one_byte(void* out) {
    static int calls;
    if (calls++ == 0) {
        errno = EINTR;
        return -1;
    }
    *(unsigned char*)out = (unsigned char)(calls - 1);
    return 1;
}

long syscall(long number, ...) {
    long (*real)(long, ...) = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    long a[6];
    va_list args;
    va_start(args, number);
    for (int i = 0; i < 6; ++i) a[i] = va_arg(args, long);
    va_end(args);
    if (number == SYS_getrandom) {
#if defined(GETRANDOM_ERROR)
        errno = GETRANDOM_ERROR;
        return -1;
#elif defined(GETRANDOM_BYTE_AT_A_TIME)
        return interrupted_then_one_byte((void*)a[0]);
#else
        /* All ones first (the one start-up seed never drawn), then 7. */
        static int calls;
        unsigned char* out = (unsigned char*)a[0];
        for (long i = 0; i < a[1]; ++i) out[i] = calls == 0 ? 0xFF : i == 0 ? 7 : 0;
        ++calls;
        return a[1];
#endif
    }
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
#if defined(URANDOM_READ_FAILS) || defined(URANDOM_AT_END) || defined(URANDOM_BYTE_AT_A_TIME)
#include <fcntl.h>
#include <string.h>
#include <unistd.h>
static int urandom = -1;
static int open_noting_urandom(const char* name, const char* path, int flags, va_list args) {
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, name);
    int fd = real(path, flags, va_arg(args, int));
    if (strcmp(path, "/dev/urandom") == 0) urandom = fd;
    return fd;
}
#define OPEN(name)                                              \
    int name(const char* path, int flags, ...) {                \
        va_list args;                                           \
        va_start(args, flags);                                  \
        int fd = open_noting_urandom(#name, path, flags, args); \
        va_end(args);                                           \
        return fd;                                              \
    }
OPEN(open)
/* glibc's name for open with large files; musl's headers make it a macro
 * for open itself. */
#ifndef open64
OPEN(open64)
#endif
ssize_t read(int fd, void* buffer, size_t size) {
    ssize_t (*real)(int, void*, size_t) = (ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    if (fd >= 0 && fd == urandom) {
#if defined(URANDOM_AT_END)
        return 0;
#elif defined(URANDOM_BYTE_AT_A_TIME)
        return interrupted_then_one_byte(buffer);
#else
        errno = EIO;
        return -1;
#endif
    }
    return real(fd, buffer, size);
}
#endif
