// The C library entry points the stand-in takes over. Each asks the node
// table first and otherwise hands the call, unchanged, to the next definition
// (the C library's), found once with dlsym(RTLD_NEXT).
#undef _FORTIFY_SOURCE // its inline open wrappers would clash with ours

#include "NodeTable.h"

#include <atomic>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#define SIMDRV_OVERRIDE extern "C" __attribute__((visibility("default")))

extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
}

namespace {

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using FcntlFn = int (*)(int, int, ...);

enum Slot {
    kOpen,
    kOpen64,
    kOpenAt,
    kOpenAt64,
    kOpen2,
    kOpen64_2,
    kClose,
    kIoctl,
    kFcntl,
    kFcntl64,
    kSlots
};

const char* const kNames[kSlots] = {"open", "open64", "openat", "openat64", "__open_2",
    "__open64_2", "close", "ioctl", "fcntl", "fcntl64"};

// Constant-initialised, so usable by calls that arrive before any constructor.
std::atomic<void*> g_next[kSlots];

// dlsym does not open files or issue requests, so resolving from inside an
// override cannot recurse into it.
template <typename Fn> Fn Next(Slot slot)
{
    void* fn = g_next[slot].load(std::memory_order_acquire);
    if (!fn) {
        fn = dlsym(RTLD_NEXT, kNames[slot]);
        g_next[slot].store(fn, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(fn);
}

// Resolve everything while the process is still single-threaded.
__attribute__((constructor(101))) void ResolveAll()
{
    for (int slot = 0; slot < kSlots; ++slot)
        Next<void*>(static_cast<Slot>(slot));
}

bool NeedsMode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t TakeMode(int flags, va_list args)
{
    return NeedsMode(flags) ? va_arg(args, mode_t) : 0;
}

// openat with a path that is relative to a directory other than the current
// one cannot name a node (nodes are matched by the path text).
bool MayBeNode(int dirfd, const char* path)
{
    return dirfd == AT_FDCWD || (path && path[0] == '/');
}

// Every open flavour: a simulated node, or the C library's own call through
// `slot` (the open-style ones take no directory; AT_FDCWD stands for it).
int OpenAt(Slot slot, int dirfd, const char* path, int flags, mode_t mode)
{
    int fd;
    if (MayBeNode(dirfd, path) && simdrv::OpenNode(path, flags, fd))
        return fd;
    switch (slot) {
    case kOpenAt:
    case kOpenAt64:
        fd = Next<OpenAtFn>(slot)(dirfd, path, flags, mode);
        break;
    case kOpen2:
    case kOpen64_2:
        fd = Next<Open2Fn>(slot)(path, flags);
        break;
    default:
        fd = Next<OpenFn>(slot)(path, flags, mode);
        break;
    }
    if (fd >= 0)
        simdrv::ForgetDescriptor(fd);
    return fd;
}

// fcntl through `slot`: a copy (F_DUPFD, F_DUPFD_CLOEXEC) of a simulated
// descriptor stays on its node; a copy of any other descriptor is a number
// handed out for something else, like one from an open.
int Fcntl(Slot slot, int fd, int cmd, void* argument)
{
    const bool copies = cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC;
    // The lowest number of a copy is an int, as the kernel takes it.
    const int minFd = static_cast<int>(reinterpret_cast<uintptr_t>(argument));
    int result;
    if (copies && simdrv::CopyNode(fd, cmd, minFd, result))
        return result;
    result = Next<FcntlFn>(slot)(fd, cmd, argument);
    if (copies && result >= 0)
        simdrv::ForgetDescriptor(result);
    return result;
}

} // namespace

namespace simdrv {

int NewDescriptor(int flags)
{
    int efd = 0;
    if (flags & O_CLOEXEC)
        efd |= EFD_CLOEXEC;
    if (flags & O_NONBLOCK)
        efd |= EFD_NONBLOCK;
    return eventfd(0, efd);
}

int CopyDescriptor(int fd, int cmd, int minFd)
{
    return Next<FcntlFn>(kFcntl)(fd, cmd, minFd);
}

int CloseDescriptor(int fd)
{
    return Next<CloseFn>(kClose)(fd);
}

} // namespace simdrv

SIMDRV_OVERRIDE int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = TakeMode(flags, args);
    va_end(args);
    return OpenAt(kOpen, AT_FDCWD, path, flags, mode);
}

SIMDRV_OVERRIDE int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = TakeMode(flags, args);
    va_end(args);
    return OpenAt(kOpen64, AT_FDCWD, path, flags, mode);
}

SIMDRV_OVERRIDE int openat(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = TakeMode(flags, args);
    va_end(args);
    return OpenAt(kOpenAt, dirfd, path, flags, mode);
}

SIMDRV_OVERRIDE int openat64(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = TakeMode(flags, args);
    va_end(args);
    return OpenAt(kOpenAt64, dirfd, path, flags, mode);
}

SIMDRV_OVERRIDE int __open_2(const char* path, int flags)
{
    return OpenAt(kOpen2, AT_FDCWD, path, flags, 0);
}

SIMDRV_OVERRIDE int __open64_2(const char* path, int flags)
{
    return OpenAt(kOpen64_2, AT_FDCWD, path, flags, 0);
}

SIMDRV_OVERRIDE int close(int fd)
{
    int result;
    if (simdrv::CloseNode(fd, result))
        return result;
    return Next<CloseFn>(kClose)(fd);
}

SIMDRV_OVERRIDE int ioctl(int fd, unsigned long request, ...) noexcept
{
    // Every request on Linux carries at most one pointer-sized argument.
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    int result;
    if (simdrv::RequestNode(fd, request, argument, result))
        return result;
    return Next<IoctlFn>(kIoctl)(fd, request, argument);
}

// The C library reads fcntl's third argument as one pointer-sized value
// whatever the command, and so do these.
SIMDRV_OVERRIDE int fcntl(int fd, int cmd, ...)
{
    va_list args;
    va_start(args, cmd);
    void* argument = va_arg(args, void*);
    va_end(args);
    return Fcntl(kFcntl, fd, cmd, argument);
}

SIMDRV_OVERRIDE int fcntl64(int fd, int cmd, ...)
{
    va_list args;
    va_start(args, cmd);
    void* argument = va_arg(args, void*);
    va_end(args);
    return Fcntl(kFcntl64, fd, cmd, argument);
}
