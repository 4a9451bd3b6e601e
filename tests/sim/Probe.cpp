// sim_probe USBWIRE_DLL [BOARDS]: for each of BOARDS boards (default 1),
// waits for its uevents on its own uevent socket, checks its stage through
// usbwire.dll, runs a second stage on it, waits for it to come back in FES
// and, when more boards follow, to be taken away. Knows nothing of the
// simulator, which must be preloaded. Prints one line per step; exits 0 when
// every board came back in FES.
#include "UsbwireTable.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/netlink.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// The node path of the next event with `action` for a qx_efex node, or "".
std::string NextNode(int fd, const char* action)
{
    char buffer[4096];
    for (;;) {
        pollfd wait {fd, POLLIN, 0};
        if (poll(&wait, 1, 10000) != 1)
            return "";
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return "";
        std::string event(buffer, static_cast<size_t>(got));
        if (event.compare(0, std::strlen(action) + 1, std::string(action) + "@") != 0)
            continue;
        const size_t name = event.find(std::string("\0DEVNAME=qx_efex", 16));
        if (name != std::string::npos)
            return "/dev/" + std::string(event.c_str() + name + 9);
    }
}

int Command(tag_EFEX_IF& fex, void*& handle, uint16_t code, uint32_t a, uint32_t b, uint8_t* buffer,
    unsigned length)
{
    uint8_t block[16] = {};
    std::memcpy(block, &code, 2);
    std::memcpy(block + 4, &a, 4);
    std::memcpy(block + 8, &b, 4);
    return fex.Fex_command(&handle, block, buffer, length);
}

int Stage(tag_EFEX_IF& fex, const std::string& node)
{
    void* handle = nullptr;
    std::string path = node;
    if (fex.Fex_Open(&handle, path.data()) != 0)
        return -1;
    uint8_t record[32] = {};
    const int result = Command(fex, handle, 0x0001, 0, 0, record, 32);
    fex.Fex_Close(&handle);
    return result == 0 ? record[16] : -1;
}

// One board through FEL into FES; true when it came back in FES.
bool OneBoard(tag_EFEX_IF& fex, int fd)
{
    const std::string fel = NextNode(fd, "add");
    std::printf("arrived %s stage %d\n", fel.c_str(), Stage(fex, fel));

    std::vector<uint8_t> image(16 + 64, 0x3C);
    std::memcpy(image.data(), "VEMOFES2", 8);
    const uint32_t body = 64;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, image.data() + 16, body));
    std::memcpy(image.data() + 8, &body, 4);
    std::memcpy(image.data() + 12, &crc, 4);
    void* handle = nullptr;
    std::string path = fel;
    if (fex.Fex_Open(&handle, path.data()) != 0)
        return false;
    const int down = Command(fex, handle, 0x0101, 0x2000, 80, image.data(), 80);
    const int run = Command(fex, handle, 0x0102, 0x2000, 0, nullptr, 0);
    fex.Fex_Close(&handle);
    std::printf("download %d run %d\n", down, run);

    std::printf("left %s\n", NextNode(fd, "remove").c_str());
    const std::string fes = NextNode(fd, "add");
    const int stage = Stage(fex, fes);
    std::printf("arrived %s stage %d\n", fes.c_str(), stage);
    std::fflush(stdout);
    return stage == 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
        return 2;
    const int boards = argc == 3 ? std::atoi(argv[2]) : 1;
    tag_EFEX_IF* table = LoadUsbwireTable(argv[1]);
    if (!table)
        return 2;
    tag_EFEX_IF& fex = *table;

    const int fd = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<uint32_t>(getpid());
    address.nl_groups = 1;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind");
        return 1;
    }
    for (int n = 1; n <= boards; ++n) {
        if (!OneBoard(fex, fd))
            return 1;
        if (n < boards)
            std::printf("taken away %s\n", NextNode(fd, "remove").c_str());
    }
    return 0;
}
