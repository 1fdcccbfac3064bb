// Preloaded into a child process by the tests: records the mode a watched file has at the
// instant it is created, before the program could change it.
//   BRAMBLE_PROBE_PATH  the file to watch
//   BRAMBLE_PROBE_OUT   where to write its mode, in octal
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
void record(const char *path, int fd, int flags)
{
    const char *watched = std::getenv("BRAMBLE_PROBE_PATH");
    const char *out = std::getenv("BRAMBLE_PROBE_OUT");
    if (fd < 0 || !(flags & O_CREAT) || !watched || !out || std::strcmp(path, watched) != 0)
        return;
    struct stat info;
    if (fstat(fd, &info) != 0)
        return;
    if (FILE *file = std::fopen(out, "w")) {
        std::fprintf(file, "%o\n", unsigned(info.st_mode & 07777));
        std::fclose(file);
    }
}

template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
} // namespace

#define PROBE_OPEN(name)                                                                                     \
    extern "C" int name(const char *path, int flags, ...)                                                    \
    {                                                                                                        \
        mode_t mode = 0;                                                                                     \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                                 \
            va_list arguments;                                                                               \
            va_start(arguments, flags);                                                                      \
            mode = mode_t(va_arg(arguments, int));                                                           \
            va_end(arguments);                                                                               \
        }                                                                                                    \
        static auto real = next<int (*)(const char *, int, ...)>(#name);                                     \
        const int fd = real(path, flags, mode);                                                              \
        record(path, fd, flags);                                                                             \
        return fd;                                                                                           \
    }

#define PROBE_OPENAT(name)                                                                                   \
    extern "C" int name(int dir, const char *path, int flags, ...)                                           \
    {                                                                                                        \
        mode_t mode = 0;                                                                                     \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                                 \
            va_list arguments;                                                                               \
            va_start(arguments, flags);                                                                      \
            mode = mode_t(va_arg(arguments, int));                                                           \
            va_end(arguments);                                                                               \
        }                                                                                                    \
        static auto real = next<int (*)(int, const char *, int, ...)>(#name);                                \
        const int fd = real(dir, path, flags, mode);                                                         \
        record(path, fd, flags);                                                                             \
        return fd;                                                                                           \
    }

PROBE_OPEN(open)
PROBE_OPEN(open64)
PROBE_OPENAT(openat)
PROBE_OPENAT(openat64)
