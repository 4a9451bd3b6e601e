#include "SimSupport.h"

#include <cstring>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Listener::Listener()
{
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<uint32_t>(getpid());
    address.nl_groups = 1;
    fd_ = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    // Room for every event a test sends before it reads.
    const int size = 4 << 20;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

Listener::~Listener()
{
    if (fd_ >= 0)
        close(fd_);
}

bool Listener::Next(simdev::Uevent& event, std::chrono::milliseconds timeout)
{
    pollfd wait {fd_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(timeout.count())) != 1)
        return false;
    char buffer[4096];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    return got > 0 && simdev::ParseUevent(buffer, static_cast<size_t>(got), event);
}

std::vector<simdev::Uevent> Listener::UntilNode(const std::string& action)
{
    std::vector<simdev::Uevent> seen;
    simdev::Uevent event;
    while (Next(event)) {
        seen.push_back(event);
        if (event.action == action && event.Get("DEVNAME").find("qx_efex") != std::string::npos)
            break;
    }
    return seen;
}

Block::Block(uint16_t code, uint32_t a, uint32_t c)
{
    b[0] = static_cast<uint8_t>(code);
    b[1] = static_cast<uint8_t>(code >> 8);
    for (int i = 0; i < 4; ++i) {
        b[4 + i] = static_cast<uint8_t>(a >> (8 * i));
        b[8 + i] = static_cast<uint8_t>(c >> (8 * i));
    }
}

uint32_t Le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Host::Host(const std::string& node)
{
    std::string path = node;
    opened_ = Fex().Fex_Open(&handle_, path.data());
}

Host::~Host()
{
    if (opened_ == 0)
        Fex().Fex_Close(&handle_);
}

int Host::Command(Block block, void* buffer, unsigned length)
{
    return Fex().Fex_command(&handle_, block.b, static_cast<unsigned char*>(buffer), length);
}

int Host::Verify(std::vector<uint8_t>& record)
{
    record.assign(32, 0);
    return Command(Block(cmd::kVerify), record.data(), 32);
}

int Host::FelDown(uint32_t address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> copy = data;
    const auto length = static_cast<uint32_t>(data.size());
    return Command(Block(cmd::kFelDown, address, length), copy.data(), length);
}

int Host::FelUp(uint32_t address, std::vector<uint8_t>& data)
{
    const auto length = static_cast<uint32_t>(data.size());
    return Command(Block(cmd::kFelUp, address, length), data.data(), length);
}

int Host::FelRun(uint32_t address)
{
    return Command(Block(cmd::kFelRun, address), nullptr, 0);
}

int Host::FesTrans(uint8_t selector, uint32_t address, uint8_t flags, void* data, unsigned length)
{
    return Command(
        Block(cmd::kFesTrans, address, length).Byte(12, selector).Byte(13, flags), data, length);
}

void BringToFes(simdev::Board& board, std::chrono::milliseconds timeout)
{
    const std::vector<uint8_t> stage = simdev::MakeSecondStage({1, 2, 3, 4, 5, 6, 7, 8});
    {
        Host host(board.NodePath());
        ASSERT_TRUE(host.Open());
        ASSERT_EQ(host.FelDown(0x40000000, stage), 0);
        ASSERT_EQ(host.FelRun(0x40000000), 0);
    }
    ASSERT_TRUE(board.WaitForStage(simdev::Stage::Fes, timeout));
}
