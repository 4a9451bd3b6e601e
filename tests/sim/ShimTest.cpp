// The uevent socket as a monitor sees it, through the shim and, as root in a
// network namespace of the test's own, through the kernel.
#include "SimSupport.h"

#include <algorithm>
#include <cstdlib>
#include <linux/netlink.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

TEST(Shim, SocketIsARealDescriptorThatPollsAndReadsAsFromTheKernel)
{
    Listener listener;
    ASSERT_GE(listener.fd(), 0);
    sockaddr_nl own {};
    socklen_t length = sizeof own;
    ASSERT_EQ(getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&own), &length), 0);
    EXPECT_EQ(own.nl_family, AF_NETLINK);
    EXPECT_EQ(own.nl_pid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(own.nl_groups, 1u);

    // A second socket cannot take the same port, as with netlink.
    const int other = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(other, 0);
    sockaddr_nl same = own;
    EXPECT_NE(bind(other, reinterpret_cast<sockaddr*>(&same), sizeof same), 0);
    EXPECT_EQ(errno, EADDRINUSE);
    close(other);

    // A closed socket gives its port back, even while its number is taken
    // by something else.
    const int later = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(later, 0);
    sockaddr_nl fixed {};
    fixed.nl_family = AF_NETLINK;
    fixed.nl_pid = 4242;
    fixed.nl_groups = 1;
    ASSERT_EQ(bind(later, reinterpret_cast<sockaddr*>(&fixed), sizeof fixed), 0);
    close(later);
    const int holder = eventfd(0, EFD_CLOEXEC); // takes the closed socket's number
    const int again = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(again, 0);
    EXPECT_EQ(bind(again, reinterpret_cast<sockaddr*>(&fixed), sizeof fixed), 0) << errno;
    close(again);
    close(holder);

    simdev::Bus bus;
    auto board = bus.Plug();
    pollfd wait {listener.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, 3000), 1);
    char buffer[4096];
    sockaddr_nl from {};
    iovec piece {buffer, sizeof buffer};
    msghdr message {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    const ssize_t got = recvmsg(listener.fd(), &message, 0);
    ASSERT_GT(got, 0);
    EXPECT_EQ(message.msg_namelen, sizeof from);
    EXPECT_EQ(from.nl_family, AF_NETLINK);
    EXPECT_EQ(from.nl_pid, 0u); // the kernel's port
    simdev::Uevent event;
    ASSERT_TRUE(simdev::ParseUevent(buffer, static_cast<size_t>(got), event));
    EXPECT_EQ(event.action, "add");
}

// The receive queue is bounded as the kernel bounds it. A reader that asks
// for 1024 bytes (2304 after doubling and the kernel's minimum) and is busy
// while a board arrives keeps the first two events of the burst, learns of
// the loss once (ENOBUFS), and never sees the board's node; one that asks for
// a large buffer gets the whole burst.
TEST(Shim, ReceiveBufferBoundsTheQueueAsTheKernelDoes)
{
    struct Case {
        int asked;
        int reads_back;
        size_t kept;
        bool overrun;
    };
    const Case cases[] = {{1024, 2304, 2, true}, {1 << 20, 2 << 20, 5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        const int fd = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
        ASSERT_GE(fd, 0);
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &c.asked, sizeof c.asked) != 0) {
            ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &c.asked, sizeof c.asked));
        }
        int size = 0;
        socklen_t length = sizeof size;
        ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length));
        if (c.asked == 1024 || geteuid() == 0) {
            EXPECT_EQ(c.reads_back, size);
        }
        sockaddr_nl address {};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 1;
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));

        simdev::Bus bus;
        auto board = bus.Plug(); // five events while nobody reads
        ASSERT_TRUE(bus.Drain(2s));
        EXPECT_FALSE(bus.WaitAllRead(20ms)) << "nothing read yet";
        std::vector<std::string> got;
        bool overrun = false;
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && errno == ENOBUFS) {
                EXPECT_FALSE(overrun) << "the loss is told once";
                overrun = true;
                continue;
            }
            if (n <= 0)
                break;
            simdev::Uevent event;
            ASSERT_TRUE(simdev::ParseUevent(buffer, size_t(n), event));
            got.push_back(event.action + " " + event.Get("DEVNAME"));
        }
        EXPECT_TRUE(bus.WaitAllRead(1s)) << "the reader has caught up";
        EXPECT_EQ(c.kept, got.size());
        EXPECT_EQ(c.overrun, overrun);
        EXPECT_EQ(c.overrun, std::find(got.begin(), got.end(), "add qx_efex0") == got.end());

        // Once read empty, the socket takes events again.
        bus.Unplug(*board);
        ASSERT_TRUE(bus.Drain(2s));
        ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == ENOBUFS)
            n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        EXPECT_GT(n, 0);
        close(fd);
    }
}

TEST(Shim, UnboundOrClosedSocketsGetNothingAndOthersPassThrough)
{
    const int unbound = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(unbound, 0);
    const int udp = socket(AF_INET, SOCK_DGRAM, 0); // untouched
    ASSERT_GE(udp, 0);
    int type = 0;
    socklen_t length = sizeof type;
    ASSERT_EQ(getsockopt(udp, SOL_SOCKET, SO_TYPE, &type, &length), 0);
    EXPECT_EQ(type, SOCK_DGRAM);
    {
        Listener closed_early;
    }
    simdev::Bus bus;
    auto board = bus.Plug();
    ASSERT_TRUE(bus.Drain(2s));
    pollfd wait {unbound, POLLIN, 0};
    EXPECT_EQ(poll(&wait, 1, 100), 0);
    close(unbound);
    close(udp);
}

TEST(Shim, KernelRouteIsRefusedInTheMachinesOwnNamespace)
{
    if (!std::getenv("VEMORA_SIM_IN_NETNS")) {
        simdev::BusOptions options;
        options.route = simdev::UeventRoute::Kernel;
        simdev::Bus bus(options);
        EXPECT_FALSE(bus.Ok());
        EXPECT_NE(bus.Error().find("own network namespace"), std::string::npos) << bus.Error();
        EXPECT_FALSE(bus.Plug());
    }
    // The shim stays in charge afterwards.
    Listener listener;
    simdev::Bus bus;
    bus.Plug();
    simdev::Uevent event;
    EXPECT_TRUE(listener.Next(event));
}

// How the test program was started by one of the namespace tests below.
std::string InsideMode()
{
    const char* mode = std::getenv("VEMORA_SIM_IN_NETNS");
    return mode ? mode : "";
}

// Runs this test program as `argv` says (its path stands for "SELF"), with
// VEMORA_SIM_IN_NETNS set to `mode`; true when it exits with 0.
::testing::AssertionResult RunInside(const char* mode, std::vector<std::string> argv)
{
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return ::testing::AssertionFailure() << "cannot find the test program";
    std::vector<char*> args;
    for (auto& arg : argv) {
        if (arg == "SELF")
            arg = self;
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    setenv("VEMORA_SIM_IN_NETNS", mode, 1);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ);
    unsetenv("VEMORA_SIM_IN_NETNS");
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child)
        return ::testing::AssertionFailure() << "cannot run " << argv[0];
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << argv[0] << " failed";
    return ::testing::AssertionSuccess();
}

// Runs inside `unshare -n`, started by the test below: real netlink, real
// group-1 broadcast, the monitor's own socket calls.
TEST(KernelRoute, InsideItsOwnNetworkNamespace)
{
    if (InsideMode() != "1")
        GTEST_SKIP()
            << "runs only inside the namespace that KernelRoute.FromAPrivateNamespace makes";
    simdev::BusOptions options;
    options.route = simdev::UeventRoute::Kernel;
    simdev::Bus bus(options);
    ASSERT_TRUE(bus.Ok()) << bus.Error();

    // The real socket: no shim behind it now.
    const int fd = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(fd, 0);
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int type = 0;
    socklen_t length = sizeof type;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &type, &length), 0);
    EXPECT_EQ(type, NETLINK_KOBJECT_UEVENT);

    auto board = bus.Plug();
    ASSERT_TRUE(board);
    std::vector<std::string> ours;
    char buffer[4096];
    while (ours.size() < 5) {
        pollfd wait {fd, POLLIN, 0};
        ASSERT_EQ(poll(&wait, 1, 3000), 1);
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        ASSERT_GT(got, 0);
        simdev::Uevent event;
        // The machine's own devices may speak too; keep the board's events.
        if (simdev::ParseUevent(buffer, size_t(got), event)
            && event.devpath.find("/usb1/1-1") != std::string::npos)
            ours.push_back(event.action + " " + event.Get("DEVNAME"));
    }
    EXPECT_EQ(ours[2], "add qx_efex0");
    BringToFes(*board);
    Host host(board->NodePath());
    std::vector<uint8_t> record;
    EXPECT_EQ(host.Verify(record), 0);
    EXPECT_EQ(record[16], 2);
    close(fd);
}

TEST(KernelRoute, FromAPrivateNamespace)
{
    if (!InsideMode().empty())
        GTEST_SKIP() << "already inside";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -n is not permitted here";
    EXPECT_TRUE(RunInside(
        "1", {"unshare", "-n", "SELF", "--gtest_filter=KernelRoute.InsideItsOwnNetworkNamespace"}));
}

// Started by the test below in a namespace of its own that has links.
TEST(KernelRoute, InsideANamespaceWithLinks)
{
    if (InsideMode() != "links")
        GTEST_SKIP() << "runs only inside the namespace that the test below makes";
    simdev::BusOptions options;
    options.route = simdev::UeventRoute::Kernel;
    simdev::Bus bus(options);
    EXPECT_FALSE(bus.Ok());
    EXPECT_NE(bus.Error().find("own network namespace"), std::string::npos) << bus.Error();
}

// Where process 1's namespace cannot be compared (a sandbox may hide it even
// from root), a namespace with links besides loopback may be the machine's.
TEST(KernelRoute, RefusedWhereProcessOneIsHiddenAndTheNamespaceHasLinks)
{
    if (!InsideMode().empty())
        GTEST_SKIP() << "already inside";
    struct stat st { };
    if (stat("/proc/1/ns/net", &st) == 0)
        GTEST_SKIP() << "process 1's namespace is readable here: compared directly";
    if (geteuid() != 0
        || std::system("unshare -n ip link add v0 type veth peer name v1 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root, unshare -n and ip link add ... type veth";
    EXPECT_TRUE(RunInside("links",
        {"unshare", "-n", "sh", "-c", "ip link add v0 type veth peer name v1 && exec \"$0\" \"$1\"",
            "SELF", "--gtest_filter=KernelRoute.InsideANamespaceWithLinks"}));
}

} // namespace
