// The uevent socket shim. A simulated socket is one end of an AF_UNIX
// datagram pair; the simulator keeps the other end and writes each event
// there, so poll, recv and recvmsg behave as on a netlink socket. Sender
// addresses read back as the kernel's (port 0, group 1). Sockets are known by
// descriptor number and inode, so a closed and reused number is never taken
// for a simulated socket.
//
// The receive queue is bounded as the kernel bounds a netlink socket's:
// SO_RCVBUF (capped at net.core.rmem_max) and SO_RCVBUFFORCE (with
// CAP_NET_ADMIN) set twice the value asked for, at least 2304 bytes; each
// datagram is charged its buffer's true size (the data rounded up to the
// allocator's size class, plus the socket buffer's bookkeeping). An event is
// queued while the charge so far is at most the limit, else dropped; the next
// receive then fails once with ENOBUFS, and nothing more is queued until the
// reader has emptied the queue (the kernel's "congested" state).
#include "UeventRoute.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <linux/netlink.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#define SIMDEV_OVERRIDE extern "C" __attribute__((visibility("default")))

namespace simdev {
namespace {

// The kernel's smallest receive buffer (SOCK_MIN_RCVBUF) and its defaults
// where /proc/sys/net/core does not say.
constexpr int kMinRcvBuf = 2304;
constexpr int kDefaultRmem = 212992;
constexpr int kCapNetAdmin = 12;

struct Simulated {
    int fd;
    dev_t dev;
    ino_t ino;
    int feed; // our end of the pair
    bool bound = false;
    uint32_t port = 0;
    uint32_t groups = 0;
    std::deque<std::string> queue; // accepted, not yet in the socket pair
    int rcvbuf = kDefaultRmem;     // the limit, as SO_RCVBUF reads it
    size_t charged = 0;            // true sizes of the datagrams accepted and not yet read
    std::deque<size_t> charges;    // one per datagram accepted and not yet read, in order
    bool overrun = false;          // the next receive fails with ENOBUFS
    bool congested = false;        // nothing is accepted until the queue is empty
};

// What the kernel charges a socket for a datagram of `length` bytes: the data
// and the shared info (320 bytes) in one allocation rounded up to a power of
// two, plus the socket buffer head (256 bytes).
size_t TrueSize(size_t length)
{
    size_t block = 64;
    const size_t need = ((length + 63) & ~size_t(63)) + 320;
    while (block < need)
        block <<= 1;
    return block + 256;
}

int ReadSysctl(const char* path, int fallback)
{
    std::ifstream in(path);
    long value = 0;
    return in >> value && value > 0 && value <= INT32_MAX ? static_cast<int>(value) : fallback;
}

bool HasNetAdmin()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0)
            return (std::strtoull(line.c_str() + 7, nullptr, 16) >> kCapNetAdmin) & 1;
    }
    return false;
}

struct Shim {
    std::mutex lock;
    std::condition_variable work;    // queues gained events, or a socket was bound
    std::condition_variable drained; // queues emptied
    std::condition_variable read;    // a socket's reader took its last datagram
    std::vector<Simulated> sockets;
    bool enabled = true;
    bool running = false;
    uint32_t next_port = 0;
};

// Never destroyed: the feeding thread and late calls may outlive statics.
Shim& Get()
{
    static Shim* shim = new Shim;
    return *shim;
}

std::atomic<int> g_count {0}; // simulated sockets alive: lets other sockets skip the lock

// The C library's definitions, found on first use (dlsym neither opens
// sockets nor binds, so it cannot recurse into us).
template <typename Fn> Fn Next(std::atomic<void*>& slot, const char* name)
{
    void* fn = slot.load(std::memory_order_acquire);
    if (!fn) {
        fn = dlsym(RTLD_NEXT, name);
        slot.store(fn, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(fn);
}

using SocketFn = int (*)(int, int, int);
using BindFn = int (*)(int, const sockaddr*, socklen_t);
using NameFn = int (*)(int, sockaddr*, socklen_t*);
using SetOptFn = int (*)(int, int, int, const void*, socklen_t);
using GetOptFn = int (*)(int, int, int, void*, socklen_t*);
using RecvFromFn = ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*);
using RecvMsgFn = ssize_t (*)(int, msghdr*, int);

std::atomic<void*> g_next[7];

int RealSocket(int domain, int type, int protocol)
{
    return Next<SocketFn>(g_next[0], "socket")(domain, type, protocol);
}

int RealBind(int fd, const sockaddr* address, socklen_t length)
{
    return Next<BindFn>(g_next[1], "bind")(fd, address, length);
}

int RealGetSockName(int fd, sockaddr* address, socklen_t* length)
{
    return Next<NameFn>(g_next[2], "getsockname")(fd, address, length);
}

int RealSetSockOpt(int fd, int level, int name, const void* value, socklen_t length)
{
    return Next<SetOptFn>(g_next[3], "setsockopt")(fd, level, name, value, length);
}

int RealGetSockOpt(int fd, int level, int name, void* value, socklen_t* length)
{
    return Next<GetOptFn>(g_next[6], "getsockopt")(fd, level, name, value, length);
}

ssize_t RealRecvFrom(
    int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* from_length)
{
    return Next<RecvFromFn>(g_next[4], "recvfrom")(fd, buffer, length, flags, from, from_length);
}

ssize_t RealRecvMsg(int fd, msghdr* message, int flags)
{
    return Next<RecvMsgFn>(g_next[5], "recvmsg")(fd, message, flags);
}

bool SameFile(int fd, dev_t dev, ino_t ino)
{
    struct stat st { };
    return fstat(fd, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

void Drop(Shim& shim, std::vector<Simulated>::iterator it)
{
    ::close(it->feed);
    shim.sockets.erase(it);
    g_count.fetch_sub(1);
}

// The entry of a live simulated socket, else end(); stale entries go.
std::vector<Simulated>::iterator Find(Shim& shim, int fd)
{
    auto it = std::find_if(
        shim.sockets.begin(), shim.sockets.end(), [fd](const Simulated& s) { return s.fd == fd; });
    if (it != shim.sockets.end() && !SameFile(fd, it->dev, it->ino)) {
        Drop(shim, it);
        return shim.sockets.end();
    }
    return it;
}

void Feed()
{
    Shim& shim = Get();
    std::unique_lock<std::mutex> hold(shim.lock);
    for (;;) {
        bool blocked = false;
        for (size_t i = 0; i < shim.sockets.size();) {
            // A reader that closed its end shows as a failed send: its
            // descriptor number is the application's, not ours to probe.
            Simulated& s = shim.sockets[i];
            bool gone = false;
            while (!gone && !s.queue.empty()) {
                const std::string& next = s.queue.front();
                if (send(s.feed, next.data(), next.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
                    s.queue.pop_front();
                } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
                    blocked = true;
                    break;
                } else {
                    gone = true; // the reader closed its end
                }
            }
            if (gone)
                Drop(shim, shim.sockets.begin() + static_cast<long>(i));
            else
                ++i;
        }
        if (!blocked)
            shim.drained.notify_all();
        // A full receive queue is retried soon; otherwise sleep until work.
        shim.work.wait_for(hold, std::chrono::milliseconds(blocked ? 2 : 200));
    }
}

int OpenSimulated(int type)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    if (!(type & SOCK_CLOEXEC))
        fcntl(pair[0], F_SETFD, 0);
    if (type & SOCK_NONBLOCK)
        fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    fcntl(pair[1], F_SETFL, fcntl(pair[1], F_GETFL) | O_NONBLOCK);
    struct stat st { };
    fstat(pair[0], &st);
    const int rcvbuf = ReadSysctl("/proc/sys/net/core/rmem_default", kDefaultRmem);
    Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    // A number reused after close may still be listed; that entry is stale.
    auto stale = std::find_if(shim.sockets.begin(), shim.sockets.end(),
        [&](const Simulated& s) { return s.fd == pair[0]; });
    if (stale != shim.sockets.end())
        Drop(shim, stale);
    Simulated fresh {};
    fresh.fd = pair[0];
    fresh.dev = st.st_dev;
    fresh.ino = st.st_ino;
    fresh.feed = pair[1];
    fresh.rcvbuf = rcvbuf;
    shim.sockets.push_back(std::move(fresh));
    g_count.fetch_add(1);
    if (!shim.running) {
        shim.running = true;
        std::thread(Feed).detach();
    }
    return pair[0];
}

sockaddr_nl KernelAddress()
{
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    return address;
}

void CopyAddress(const sockaddr_nl& address, void* to, socklen_t* length)
{
    if (!to || !length)
        return;
    std::memcpy(to, &address, std::min<size_t>(*length, sizeof address));
    *length = sizeof address;
}

} // namespace

void ShimEnable(bool enabled)
{
    Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    shim.enabled = enabled;
}

void ShimBroadcast(const std::string& datagram)
{
    Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    for (Simulated& s : shim.sockets) {
        if (!s.bound || !(s.groups & 1))
            continue;
        if (s.congested || s.charged > static_cast<size_t>(s.rcvbuf)) {
            s.overrun = true;
            s.congested = true;
            continue;
        }
        const size_t charge = TrueSize(datagram.size());
        s.charged += charge;
        s.charges.push_back(charge);
        s.queue.push_back(datagram);
    }
    shim.work.notify_all();
}

bool ShimWaitForListener(std::chrono::milliseconds timeout)
{
    Shim& shim = Get();
    std::unique_lock<std::mutex> hold(shim.lock);
    return shim.work.wait_for(hold, timeout, [&] {
        return std::any_of(shim.sockets.begin(), shim.sockets.end(), [](const Simulated& s) {
            return s.bound && (s.groups & 1) && SameFile(s.fd, s.dev, s.ino);
        });
    });
}

bool ShimWaitAllRead(std::chrono::milliseconds timeout)
{
    Shim& shim = Get();
    std::unique_lock<std::mutex> hold(shim.lock);
    return shim.read.wait_for(hold, timeout, [&] {
        // A socket closed meanwhile has no reader left to wait for.
        return std::all_of(shim.sockets.begin(), shim.sockets.end(),
            [](const Simulated& s) { return s.charges.empty() || !SameFile(s.fd, s.dev, s.ino); });
    });
}

bool ShimDrain(std::chrono::milliseconds timeout)
{
    Shim& shim = Get();
    std::unique_lock<std::mutex> hold(shim.lock);
    shim.work.notify_all();
    return shim.drained.wait_for(hold, timeout, [&] {
        return std::all_of(shim.sockets.begin(), shim.sockets.end(),
            [](const Simulated& s) { return s.queue.empty(); });
    });
}

} // namespace simdev

using simdev::Get;

SIMDEV_OVERRIDE int socket(int domain, int type, int protocol) noexcept
{
    const int kind = type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (domain == AF_NETLINK && protocol == NETLINK_KOBJECT_UEVENT
        && (kind == SOCK_DGRAM || kind == SOCK_RAW)) {
        bool enabled;
        {
            std::lock_guard<std::mutex> hold(Get().lock);
            enabled = Get().enabled;
        }
        if (enabled)
            return simdev::OpenSimulated(type);
    }
    return simdev::RealSocket(domain, type, protocol);
}

SIMDEV_OVERRIDE int bind(int fd, const sockaddr* address, socklen_t length) noexcept
{
    if (simdev::g_count.load() == 0)
        return simdev::RealBind(fd, address, length);
    simdev::Shim& shim = Get();
    std::unique_lock<std::mutex> hold(shim.lock);
    auto it = simdev::Find(shim, fd);
    if (it == shim.sockets.end()) {
        hold.unlock();
        return simdev::RealBind(fd, address, length);
    }
    // As netlink_bind: a full netlink address, and a port no other socket has.
    sockaddr_nl wanted {};
    if (!address || length < sizeof wanted) {
        errno = EINVAL;
        return -1;
    }
    std::memcpy(&wanted, address, sizeof wanted);
    if (wanted.nl_family != AF_NETLINK
        || (it->bound && wanted.nl_pid && wanted.nl_pid != it->port)) {
        errno = EINVAL;
        return -1;
    }
    // A closed socket gives its port back at once, as on netlink.
    auto taken = [&](uint32_t port) {
        return std::any_of(
            shim.sockets.begin(), shim.sockets.end(), [&](const simdev::Simulated& s) {
                return s.bound && s.port == port && s.fd != fd
                    && simdev::SameFile(s.fd, s.dev, s.ino);
            });
    };
    uint32_t port = it->bound ? it->port : wanted.nl_pid;
    if (port && taken(port)) {
        errno = EADDRINUSE;
        return -1;
    }
    if (!port) {
        port = static_cast<uint32_t>(getpid());
        while (taken(port))
            port = static_cast<uint32_t>(-4096) - shim.next_port++;
    }
    it->port = port;
    it->groups = wanted.nl_groups;
    it->bound = true;
    shim.work.notify_all();
    return 0;
}

SIMDEV_OVERRIDE int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept
{
    if (simdev::g_count.load() != 0) {
        simdev::Shim& shim = Get();
        std::lock_guard<std::mutex> hold(shim.lock);
        auto it = simdev::Find(shim, fd);
        if (it != shim.sockets.end()) {
            sockaddr_nl own {};
            own.nl_family = AF_NETLINK;
            own.nl_pid = it->port;
            own.nl_groups = it->groups;
            simdev::CopyAddress(own, address, length);
            return 0;
        }
    }
    return simdev::RealGetSockName(fd, address, length);
}

namespace {

// SO_RCVBUF and SO_RCVBUFFORCE on a simulated socket, as sock_setsockopt
// sets sk_rcvbuf; -1 with errno as the kernel answers.
int SetReceiveBuffer(int fd, int name, const void* value, socklen_t length)
{
    if (!value || length < sizeof(int)) {
        errno = EINVAL;
        return -1;
    }
    int wanted;
    std::memcpy(&wanted, value, sizeof wanted);
    if (name == SO_RCVBUFFORCE && !simdev::HasNetAdmin()) {
        errno = EPERM;
        return -1;
    }
    int64_t size = std::max(wanted, 0);
    if (name == SO_RCVBUF)
        size = std::min<int64_t>(
            size, simdev::ReadSysctl("/proc/sys/net/core/rmem_max", simdev::kDefaultRmem));
    const int limit = static_cast<int>(
        std::max<int64_t>(std::min<int64_t>(size * 2, INT32_MAX), simdev::kMinRcvBuf));
    simdev::Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    auto it = simdev::Find(shim, fd);
    if (it == shim.sockets.end()) {
        errno = EBADF;
        return -1;
    }
    it->rcvbuf = limit;
    return 0;
}

bool IsSimulated(int fd)
{
    if (simdev::g_count.load() == 0)
        return false;
    simdev::Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    return simdev::Find(shim, fd) != shim.sockets.end();
}

// Before a receive on a simulated socket: true (errno ENOBUFS) when events
// were dropped since the last one, which the receive then reports instead.
bool TakeOverrun(int fd)
{
    simdev::Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    auto it = simdev::Find(shim, fd);
    if (it == shim.sockets.end() || !it->overrun)
        return false;
    it->overrun = false;
    errno = ENOBUFS;
    return true;
}

// After a receive that took a datagram: its charge is given back; an empty
// queue ends the congestion.
void Consumed(int fd)
{
    simdev::Shim& shim = Get();
    std::lock_guard<std::mutex> hold(shim.lock);
    auto it = simdev::Find(shim, fd);
    if (it == shim.sockets.end() || it->charges.empty())
        return;
    it->charged -= it->charges.front();
    it->charges.pop_front();
    if (it->charges.empty()) {
        it->congested = false;
        shim.read.notify_all();
    }
}

} // namespace

SIMDEV_OVERRIDE int setsockopt(
    int fd, int level, int name, const void* value, socklen_t length) noexcept
{
    if (level == SOL_SOCKET && (name == SO_RCVBUF || name == SO_RCVBUFFORCE) && IsSimulated(fd))
        return SetReceiveBuffer(fd, name, value, length);
    if (level == SOL_NETLINK && simdev::g_count.load() != 0) {
        simdev::Shim& shim = Get();
        std::lock_guard<std::mutex> hold(shim.lock);
        auto it = simdev::Find(shim, fd);
        if (it != shim.sockets.end()) {
            if (!value || length < sizeof(int)) {
                errno = EINVAL;
                return -1;
            }
            int group;
            std::memcpy(&group, value, sizeof group);
            if ((name == NETLINK_ADD_MEMBERSHIP || name == NETLINK_DROP_MEMBERSHIP) && group >= 1
                && group <= 32) {
                const uint32_t bit = 1u << (group - 1);
                it->groups = name == NETLINK_ADD_MEMBERSHIP ? it->groups | bit : it->groups & ~bit;
                shim.work.notify_all();
            }
            return 0;
        }
    }
    return simdev::RealSetSockOpt(fd, level, name, value, length);
}

SIMDEV_OVERRIDE int getsockopt(int fd, int level, int name, void* value, socklen_t* length) noexcept
{
    if (level == SOL_SOCKET && name == SO_RCVBUF && value && length && *length >= sizeof(int)
        && simdev::g_count.load() != 0) {
        simdev::Shim& shim = Get();
        std::lock_guard<std::mutex> hold(shim.lock);
        auto it = simdev::Find(shim, fd);
        if (it != shim.sockets.end()) {
            std::memcpy(value, &it->rcvbuf, sizeof(int));
            *length = sizeof(int);
            return 0;
        }
    }
    return simdev::RealGetSockOpt(fd, level, name, value, length);
}

SIMDEV_OVERRIDE ssize_t recv(int fd, void* buffer, size_t length, int flags)
{
    if (!IsSimulated(fd))
        return simdev::RealRecvFrom(fd, buffer, length, flags, nullptr, nullptr);
    if (TakeOverrun(fd))
        return -1;
    const ssize_t got = simdev::RealRecvFrom(fd, buffer, length, flags, nullptr, nullptr);
    if (got >= 0 && !(flags & MSG_PEEK))
        Consumed(fd);
    return got;
}

SIMDEV_OVERRIDE ssize_t recvfrom(
    int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* from_length)
{
    if (!IsSimulated(fd))
        return simdev::RealRecvFrom(fd, buffer, length, flags, from, from_length);
    if (TakeOverrun(fd))
        return -1;
    const ssize_t got = simdev::RealRecvFrom(fd, buffer, length, flags, nullptr, nullptr);
    if (got >= 0) {
        simdev::CopyAddress(simdev::KernelAddress(), from, from_length);
        if (!(flags & MSG_PEEK))
            Consumed(fd);
    }
    return got;
}

SIMDEV_OVERRIDE ssize_t recvmsg(int fd, msghdr* message, int flags)
{
    if (!message || !IsSimulated(fd))
        return simdev::RealRecvMsg(fd, message, flags);
    if (TakeOverrun(fd))
        return -1;
    void* name = message->msg_name;
    socklen_t name_length = message->msg_namelen;
    message->msg_name = nullptr;
    message->msg_namelen = 0;
    const ssize_t got = simdev::RealRecvMsg(fd, message, flags);
    message->msg_name = name;
    message->msg_namelen = name_length;
    if (got >= 0) {
        if (name)
            simdev::CopyAddress(simdev::KernelAddress(), name, &message->msg_namelen);
        if (!(flags & MSG_PEEK))
            Consumed(fd);
    }
    return got;
}
