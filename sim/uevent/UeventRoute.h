// The two ways uevents leave the simulator.
//
// The shim: this library defines socket, bind, getsockname, setsockopt,
// getsockopt, recv, recvfrom and recvmsg, so a uevent socket opened in this
// process is a real datagram descriptor (one end of a socket pair) that the
// simulator feeds, with a receive queue bounded as the kernel bounds it
// (SO_RCVBUF, ENOBUFS after a drop); every other socket passes through to the
// C library.
//
// The kernel: a real netlink socket sends to group 1, only where the process
// has a network namespace of its own.
#pragma once

#include <chrono>
#include <string>

namespace simdev {

// Whether new uevent sockets are simulated (on by default).
void ShimEnable(bool enabled);
// Queues a datagram for every simulated socket bound to group 1.
void ShimBroadcast(const std::string& datagram);
// Waits until a simulated socket is bound to group 1.
bool ShimWaitForListener(std::chrono::milliseconds timeout);
// Waits until every queued datagram sits in its socket's receive queue.
bool ShimDrain(std::chrono::milliseconds timeout);
// Waits until the readers of the simulated sockets have received every
// datagram queued for them.
bool ShimWaitAllRead(std::chrono::milliseconds timeout);

class KernelSender {
public:
    KernelSender() = default;
    ~KernelSender();
    KernelSender(const KernelSender&) = delete;
    KernelSender& operator=(const KernelSender&) = delete;

    // False, with the reason, outside a private network namespace.
    bool Open(std::string& error);
    bool Send(const std::string& datagram);

private:
    int fd_ = -1;
};

} // namespace simdev
