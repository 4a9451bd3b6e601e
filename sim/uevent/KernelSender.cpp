#include "UeventRoute.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <linux/netlink.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace simdev {
namespace {

// The kernel's first network namespace always has this inode number.
constexpr ino_t kInitialNetworkNamespace = 0xEFFFFFF9;

// True when the namespace we are in has no network interface but loopback,
// as a fresh `unshare -n` has; the machine's own namespace has its links.
bool LoopbackOnly()
{
    std::ifstream devices("/proc/self/net/dev");
    if (!devices)
        return false;
    std::string line;
    int lines = 0;
    while (std::getline(devices, line)) {
        if (++lines <= 2) // the two header lines
            continue;
        const size_t colon = line.find(':');
        const size_t first = line.find_first_not_of(' ');
        if (colon == std::string::npos || first >= colon
            || line.compare(first, colon - first, "lo"))
            return false;
    }
    return lines > 2;
}

// Our namespace must be neither the kernel's first one nor that of process 1
// or of our parent: only then does `unshare -n` (or the like) stand between
// us and the machine's listeners. Where one of those cannot be read (a
// sandbox may hide process 1 even from root), the namespace must in addition
// hold nothing but loopback, so that doubt never sends an event to the machine.
bool PrivateNetworkNamespace(std::string& error)
{
    struct stat self { };
    if (stat("/proc/self/ns/net", &self) != 0) {
        error = "cannot read our network namespace through /proc";
        return false;
    }
    bool shared = self.st_ino == kInitialNetworkNamespace;
    bool unknown = false;
    for (const std::string& other :
        {std::string("/proc/1/ns/net"), "/proc/" + std::to_string(getppid()) + "/ns/net"}) {
        struct stat st { };
        if (stat(other.c_str(), &st) != 0)
            unknown = true;
        else
            shared = shared || (st.st_dev == self.st_dev && st.st_ino == self.st_ino);
    }
    if (shared || (unknown && !LoopbackOnly())) {
        error = "refusing to send uevents in the machine's own network namespace";
        return false;
    }
    return true;
}

} // namespace

KernelSender::~KernelSender()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool KernelSender::Open(std::string& error)
{
    if (!PrivateNetworkNamespace(error))
        return false;
    // Straight to the kernel: the shim must not stand in for this socket.
    fd_ = static_cast<int>(
        syscall(SYS_socket, AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
    if (fd_ < 0) {
        error = std::string("netlink socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_nl self {};
    self.nl_family = AF_NETLINK;
    if (syscall(SYS_bind, fd_, &self, sizeof self) != 0) {
        error = std::string("netlink bind: ") + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool KernelSender::Send(const std::string& datagram)
{
    if (fd_ < 0)
        return false;
    sockaddr_nl group {};
    group.nl_family = AF_NETLINK;
    group.nl_groups = 1;
    iovec piece {const_cast<char*>(datagram.data()), datagram.size()};
    msghdr message {};
    message.msg_name = &group;
    message.msg_namelen = sizeof group;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    return syscall(SYS_sendmsg, fd_, &message, 0) == static_cast<long>(datagram.size());
}

} // namespace simdev
