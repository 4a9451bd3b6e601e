#include "NodeWatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned kKernelGroup = 1;
// Process ids stay below 2^22; ports with this bit are no process's own.
constexpr uint32_t kPortMark = 0x40000000;
constexpr int kReceiveBuffer = 1 << 20;
// The kernel's uevents are at most a few kilobytes.
constexpr size_t kDatagramMax = 8192;
const char kNodeMark[] = "qx_efex";

// One uevent datagram of `length` bytes: the node path of a board's node that
// was added ('+') or removed ('-'); false for any other event.
bool ParseEvent(const char* data, size_t length, std::string& node, char& action)
{
    std::string name;
    std::string verb;
    // "ACTION@DEVPATH" and then "KEY=VALUE" fields, each ended by a NUL
    // byte, within the length received.
    size_t at = 0;
    while (at < length) {
        const void* nul = std::memchr(data + at, '\0', length - at);
        const size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : length;
        const std::string field(data + at, end - at);
        if (field.compare(0, 7, "ACTION=") == 0)
            verb = field.substr(7);
        else if (field.compare(0, 8, "DEVNAME=") == 0)
            name = field.substr(8);
        at = end + 1;
    }
    if (name.find(kNodeMark) == std::string::npos || (verb != "add" && verb != "remove"))
        return false;
    node = name[0] == '/' ? name : "/dev/" + name;
    action = verb == "add" ? '+' : '-';
    return true;
}

} // namespace

bool NodeWatch::Start(std::string& error)
{
    m_nSocket = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (m_nSocket < 0) {
        error = std::strerror(errno);
        return false;
    }
    // Room for many arrivals while the runner is busy; the kernel may grant
    // less, which only matters for the permission hint.
    setsockopt(m_nSocket, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    // Never the process id as port: the plug-in's monitor binds to that one,
    // and an automatic port would be the process id when taken first.
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<uint32_t>(getpid()) | kPortMark;
    address.nl_groups = kKernelGroup;
    if (bind(m_nSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = std::strerror(errno);
        close(m_nSocket);
        m_nSocket = -1;
        return false;
    }
    m_thread = std::thread(&NodeWatch::Listen, this);
    m_thread.detach();
    return true;
}

void NodeWatch::Listen()
{
    static char datagram[kDatagramMax];
    for (;;) {
        sockaddr_nl sender {};
        socklen_t senderLength = sizeof sender;
        const ssize_t n = recvfrom(m_nSocket, datagram, sizeof datagram, MSG_TRUNC,
            reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) {
            // ENOBUFS: events were lost; the next ones are read as usual.
            if (errno == EINTR || errno == ENOBUFS)
                continue;
            return;
        }
        // Only the kernel's own messages (port 0), and only whole ones.
        if (sender.nl_pid != 0 || static_cast<size_t>(n) > sizeof datagram)
            continue;
        std::string node;
        char action;
        if (!ParseEvent(datagram, static_cast<size_t>(n), node, action))
            continue;
        const std::lock_guard<std::mutex> hold(m_lock);
        if (action == '+') {
            m_newest = node;
            m_arrived = std::chrono::steady_clock::now();
        } else if (node == m_newest) {
            m_newest.clear();
        }
    }
}

std::string NodeWatch::NewestNode(std::chrono::milliseconds recent)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_newest.empty() || std::chrono::steady_clock::now() - m_arrived > recent)
        return std::string();
    return m_newest;
}

bool RefusedForPermission(const std::string& node, std::string& reason)
{
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    const int error = errno;
    reason = std::strerror(error);
    return error == EACCES || error == EPERM;
}
