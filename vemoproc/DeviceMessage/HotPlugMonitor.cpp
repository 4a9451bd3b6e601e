#include "HotPlugMonitor.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include "DeviceMessage/HotPlugInfo.h"
#include "DeviceMessage/KoraDeviceMessage.h"
#include "PyrraDebug.h"
#include "Report.h"
#include "VemoProcMan.h"

namespace {

// Before a node's arrival is handed on: udev gives the new node its owner and
// mode (the udev rule) just after the kernel announced it, and an open before
// that is refused for a user who is not root.
constexpr useconds_t kNodeSettle = 100000;
constexpr uint32_t kKernelGroup = 1; // the kernel's uevent multicast group

// What the host is told when events were dropped: any of them may have been
// a board's arrival or departure.
constexpr char kLostWarning[]
    = "Device events were lost (too many at once): re-plug any board that was not taken";

// Asks for the large receive buffer; the kernel may cap it. The size it
// granted (twice what it accepted) is logged once.
void EnlargeReceiveBuffer(int fd)
{
    const int wanted = HOTPLUG_RCVBUF;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0)
        PyrraDebug::DebugMsg("hotplug: uevent receive buffer of %d bytes\n", granted);
}

} // namespace

int init_hotplug_sock()
{
    sockaddr_nl address;
    std::memset(&address, 0, sizeof address);
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<uint32_t>(getpid());
    address.nl_groups = kKernelGroup;

    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        perror("socket");
        return -1;
    }
    EnlargeReceiveBuffer(fd);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (bound != 0 && errno == EADDRINUSE) {
        // Another netlink socket of this process holds the port of our
        // process id (the kernel gives it to the first one that binds
        // without asking for a port): let the kernel choose one.
        PyrraDebug::DebugMsg("hotplug: port %u taken, the kernel chooses one\n", address.nl_pid);
        address.nl_pid = 0;
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (bound != 0) {
        perror("bind");
        close(fd);
        return -1;
    }
    return fd;
}

int DeviceDetechThread(VemoProcMan* man)
{
    const int fd = init_hotplug_sock();
    if (fd < 0)
        return HOTPLUG_NO_SOCKET;

    Dev_Detch_Info record {};
    HotPlugLines lines;
    char buffer[HOTPLUG_EVENT_SIZE];
    // Events are worked off as fast as they come: unrelated ones (thousands
    // at a time from "udevadm trigger" or a busy hub) must not keep a board
    // waiting nor fill the receive buffer.
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == ENOBUFS) {
            // Not an event: the kernel dropped some because the buffer was
            // full. A device whose events were among them goes unseen, so
            // the host hears of it too.
            PyrraDebug::DebugErr(
                "hotplug: uevents were lost (receive buffer full); re-plug the device if it is "
                "not taken\n");
            MsgCallBack(VEMO_MSG_WARNING, 0, kLostWarning);
            continue;
        }
        lines.clear();
        try {
            if (got > 0)
                SplitEvent(buffer, static_cast<size_t>(got), lines);
        } catch (const std::bad_alloc&) {
            lines.clear(); // out of memory: read as an event without lines
        }
        GetDevDetchInfo(lines, &record);

        char path[HOTPLUG_PATH_SIZE] = {};
        if (!MatchTargetNode(record, path))
            continue;
        if (record.bPlugIn) {
            usleep(kNodeSettle);
            PyrraDebug::DebugErr("Dev Plugin The Device Path is: %s\n", path);
            man->GetDeviceMessage()->DevicePlugIn(path, true);
        } else {
            PyrraDebug::DebugErr("Dev Plugout The Device Path is: %s\n", path);
            man->GetDeviceMessage()->DevicePlugOut(path, true);
        }
    }
}

void* DeviceMsgThreadEntry(void* man)
{
    return reinterpret_cast<void*>(
        static_cast<intptr_t>(DeviceDetechThread(static_cast<VemoProcMan*>(man))));
}
