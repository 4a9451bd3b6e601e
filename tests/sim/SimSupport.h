// What the simulator's tests share: a uevent listener set up as the hot-plug
// monitor sets up its socket, and a host that speaks FEX commands through
// usbwire.dll's table.
#pragma once

#include "SimDevice.h"
#include "UsbwireTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT), a receive buffer
// of 4 MiB, bind to group 1 with our process id: the monitor's steps.
class Listener {
public:
    Listener();
    ~Listener();
    int fd() const { return fd_; }
    // The next event, or false after `timeout`.
    bool Next(simdev::Uevent& event, std::chrono::milliseconds timeout = 3s);
    // Events until one with `action` whose DEVNAME contains "qx_efex".
    std::vector<simdev::Uevent> UntilNode(const std::string& action);

private:
    int fd_ = -1;
};

namespace cmd {
constexpr uint16_t kVerify = 0x0001, kIsReady = 0x0003, kCmdSetVer = 0x0004;
constexpr uint16_t kFelDown = 0x0101, kFelRun = 0x0102, kFelUp = 0x0103;
constexpr uint16_t kFesTrans = 0x0201, kFesRun = 0x0202, kFesInfo = 0x0203, kFesGetMsg = 0x0204;
} // namespace cmd

struct Block {
    uint8_t b[16] = {};
    Block(uint16_t code, uint32_t a = 0, uint32_t c = 0);
    Block& Byte(int at, uint8_t value)
    {
        b[at] = value;
        return *this;
    }
};

// One open handle on a node, as a tool script holds it.
class Host {
public:
    explicit Host(const std::string& node);
    ~Host();
    bool Open() const { return opened_ == 0; }
    int opened() const { return opened_; }
    int Command(Block block, void* buffer, unsigned length);
    int Verify(std::vector<uint8_t>& record);
    int FelDown(uint32_t address, const std::vector<uint8_t>& data);
    int FelUp(uint32_t address, std::vector<uint8_t>& data);
    int FelRun(uint32_t address);
    // One CMD_FES_TRANS chunk: flags byte carries direction and marks.
    int FesTrans(uint8_t selector, uint32_t address, uint8_t flags, void* data, unsigned length);
    void** handle() { return &handle_; }

private:
    void* handle_ = nullptr;
    int opened_ = -1;
};

uint32_t Le32(const uint8_t* p);

// Drives a FEL board through a valid second stage and waits for it in FES.
void BringToFes(simdev::Board& board, std::chrono::milliseconds timeout = 5s);
