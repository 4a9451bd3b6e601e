// The hot-plug monitor: one thread for the life of the process that reads
// the kernel's uevents and reports the target device's node arriving and
// leaving to the session controller (DevicePlugIn / DevicePlugOut).
#pragma once

class VemoProcMan;

// Result of DeviceDetechThread: the uevent socket could not be set up.
enum : int {
    HOTPLUG_NO_SOCKET = 624,
};

// The uevent receive buffer asked for: room for many arrival bursts while
// the monitor sleeps or a device arrival is worked on.
constexpr int HOTPLUG_RCVBUF = 8 << 20;

// Opens a netlink uevent socket bound to the kernel's group with our process
// id, with a receive buffer of HOTPLUG_RCVBUF (SO_RCVBUFFORCE, else SO_RCVBUF,
// which the kernel caps; the size obtained is logged); the descriptor, or -1
// after perror.
int init_hotplug_sock();

// The monitor loop: events are received and matched one at a time, as fast as
// they come; a node's arrival is handed on 100 ms after it was read (udev's
// time to set the node up). Lost events are logged and reported to the host
// as a warning. Returns only when the socket cannot be set up
// (HOTPLUG_NO_SOCKET).
int DeviceDetechThread(VemoProcMan* man);

// POSIX thread start routine: runs DeviceDetechThread with the manager.
void* DeviceMsgThreadEntry(void* man);
