// Bus and Board: virtual boards plugged into a virtual USB bus (part of
// sim/SimDevice.h).
//
// A `Bus` plugs `Board`s. A plugged board gets a driver node ("/dev/qx_efexN")
// served through the driver stand-in (SimDriver.h) and answers the eFex wire
// protocol as a board in its USB boot stage (FEL) does. When the host runs a
// valid second-stage payload, the board leaves the bus and comes back after a
// delay as a new node, in its second stage (FES). Every arrival and departure
// is announced by the kernel's uevents, delivered to the process's uevent
// sockets (see `UeventRoute`).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include "board/BoardTypes.h"
#include "uevent/Uevent.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simdev {

class BoardCore;
class BusCore;

enum class UeventRoute {
    // Default: socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT) in this
    // process gives a real socket descriptor fed by the simulator once bound to
    // group 1; no privilege needed, nothing reaches the kernel.
    Shim,
    // Through the kernel: a real netlink socket sends each event to group 1.
    // Only inside a private network namespace (`unshare -n`, root); the bus
    // refuses to start in the namespace of process 1.
    Kernel,
};

struct BusOptions {
    std::string dev_dir = "/dev";
    UeventRoute route = UeventRoute::Shim;
    uint64_t seed = 1;  // drives SEQNUM start, device numbers, noise, drawn faults
    bool noise = false; // unrelated devices' events between the board's own
    std::chrono::microseconds event_gap {0}; // pause between two events of a burst
    // Events() lists every event sent; false keeps none, for a long run (the
    // preloaded scenario).
    bool keep_events = true;
};

#pragma GCC visibility push(default) // exported by libvemora_simdev.so

// A board on a bus. Handles stay valid after the board has left the bus.
class Board {
public:
    explicit Board(std::shared_ptr<BoardCore> core);

    Stage CurrentStage() const;
    bool OnBus() const;
    // "/dev/qx_efexN" while on the bus, "" while off it.
    std::string NodePath() const;
    // Nodes the board has had, oldest first (FEL node, then FES node).
    std::vector<std::string> NodeHistory() const;
    // Blocks until the board is on the bus in `stage`; false on time-out.
    bool WaitForStage(Stage stage, std::chrono::milliseconds timeout) const;
    // Blocks until the board has left the bus (for a while or for good);
    // false on time-out.
    bool WaitOffBus(std::chrono::milliseconds timeout) const;
    // Gone for good: pulled, unplugged by a fault, never back in FES, or
    // rebooted by CMD_FES_RUN with run_flag set.
    bool Gone() const;
    bool WaitGone(std::chrono::milliseconds timeout) const;

    std::vector<uint8_t> PrivateData() const; // the whole 2^n-byte area
    // From the area's start; false (nothing written) when longer than the area.
    bool SetPrivateData(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ReadRam(uint32_t address, uint32_t length) const;
    void WriteRam(uint32_t address, const std::vector<uint8_t>& bytes);

    uint64_t FlashSize() const;
    std::string FlashPath() const; // the sparse backing file; "" when unnamed
    // Empty when the range leaves the flash.
    std::vector<uint8_t> ReadFlash(uint64_t offset, uint64_t length) const;

    std::vector<CommandRecord> Commands() const;
    std::vector<TransferRecord> Transfers() const;
    WireStats Stats() const;
    // Texts the board queued for CMD_FES_GET_MSG, oldest first.
    std::vector<std::string> Messages() const;
    std::vector<FesRun> FesRuns() const;

    const std::shared_ptr<BoardCore>& Core() const { return core_; }

private:
    std::shared_ptr<BoardCore> core_;
};

class Bus {
public:
    explicit Bus(BusOptions options = {});
    ~Bus(); // boards still on the bus leave it (with their events)
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // False when the bus could not start (kernel route outside a private
    // network namespace, or no netlink socket); `Error` then says why, and
    // otherwise why the last `Plug` failed.
    bool Ok() const;
    std::string Error() const;

    // Plugs a board in FEL: node attached, then the arrival events. Null,
    // with `Error` saying why, for options no board can have (private data
    // above 2^24 bytes or longer than its area, no flash file).
    std::shared_ptr<Board> Plug(BoardOptions options = {});
    // Pulls a board: node detached (requests fail with ENODEV), then the
    // departure events. A board off the bus is left as it is.
    void Unplug(Board& board);
    // A burst of unrelated events (a storage stick, a battery change).
    void EmitNoise();

    // Every event sent so far, oldest first.
    std::vector<Uevent> Events() const;
    // Blocks until the shim has handed every event to each bound socket's
    // queue (the kernel route sends at once); false on time-out.
    bool Drain(std::chrono::milliseconds timeout) const;
    // Blocks until the process's uevent sockets have received every event
    // sent to them (the reader has caught up); false on time-out, and always
    // with the kernel route, whose queues the simulator cannot see.
    bool WaitAllRead(std::chrono::milliseconds timeout) const;
    // Blocks until this process has a uevent socket bound to the kernel's
    // group that the bus's events reach (shim or netlink), so that nothing
    // plugged afterwards goes unheard; false on time-out.
    bool WaitForListener(std::chrono::milliseconds timeout) const;

private:
    std::shared_ptr<BusCore> core_;
};

#pragma GCC visibility pop

} // namespace simdev
