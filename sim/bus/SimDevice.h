// The simulated device: virtual boards on a virtual USB bus (libvemora_simdev.so,
// test support, never a deliverable).
//
// A `Bus` plugs `Board`s. A plugged board gets a driver node ("/dev/qx_efexN")
// served through the driver stand-in (SimDriver.h) and answers the eFex wire
// protocol as a board in its USB boot stage (FEL) does. When the host runs a
// valid second-stage payload, the board leaves the bus and comes back after a
// delay as a new node, in its second stage (FES). Every arrival and departure
// is announced by the kernel's uevents, delivered to the process's uevent
// sockets (see `UeventRoute`).
//
// Second-stage payload (what CMD_FEL_RUN accepts at the address it names):
//   offset 0  8 bytes  "VEMOFES2"
//   offset 8  u32      payload length n (1 .. 16 MiB), little-endian
//   offset 12 u32      CRC-32 (IEEE 802.3, as zlib) of the n bytes at offset 16
// `MakeSecondStage` builds one. Anything else run gets a failed FEX status.
//
// CMD_FES_TRANS selector byte (offset 12 of the block):
//   high nibble 0: board RAM, the address is a 32-bit byte address; low nibble 0
//   high nibble 1: flash storage, byte offset = low nibble * 2^32 + address
//   anything else is refused with a failed FEX status.
// Start mark (flags bit 6) opens a transfer record, finish mark (bit 7) closes
// it and syncs the flash file; see `Board::Transfers`.
//
// CMD_FES_RUN: recorded (`Board::FesRuns`); with run_flag (bit 0 of the run
// byte) set the board reboots into its firmware: it leaves the bus for good.
// Other replies: docs/simulated-device.md.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#define SIMDEV_API __attribute__((visibility("default")))

namespace simdev {

enum class Stage { Fel, Fes };

// How a board's link costs time; zero fields cost nothing (the default).
struct LinkModel {
    uint32_t latency_us = 0;       // per USB transfer (request block to status reply)
    uint64_t bytes_per_second = 0; // bandwidth of every driver request; 0 = unlimited
    // USB 2.0 high speed as boards achieve it: ~40 MB/s, 125 us per transfer.
    static LinkModel UsbHighSpeed() { return {125, 40'000'000}; }
};

// One scripted misbehaviour. It fires once, at the `at`-th unit it counts
// (counted from 1, only while the board is in `stage` when one is given).
// `at` 0 draws the point from the bus seed, between 1 and 32.
struct Fault {
    enum Kind {
        FailRequest,    // unit: driver request (send or recv); fails with `error`
        BadStatusMagic, // unit: USB transfer; its 13-byte status reply carries "QXUX"
        BadStatus,      // unit: USB transfer; its status reply carries status 1
        FexStatusFail,  // unit: FEX command; its 8-byte FEX status carries result 1
                        // (reads still deliver data; writes and runs are not done)
        BadVerifyMagic, // unit: verify command; its record lacks "QXUSBFEX"
        Unplug,         // unit: data-phase driver request; it fails with ENODEV and
                        // the board leaves the bus for good (departure events follow)
    };
    Fault(Kind kind = FailRequest, uint64_t at = 1, std::optional<Stage> stage = std::nullopt,
        int error = 5)
        : kind(kind)
        , at(at)
        , stage(stage)
        , error(error)
    {
    }
    Kind kind;
    uint64_t at;
    std::optional<Stage> stage; // none: counts in both stages
    int error;                  // errno for FailRequest (5, EIO, by default)
};

// What becomes of the flash storage's backing file.
enum class FlashFile {
    Temporary, // removed when the last handle to the board goes
    Kept,      // left behind for inspection
    Unnamed,   // unlinked at once; readable only through Board::ReadFlash
};

struct BoardOptions {
    uint8_t data_length_log2 = 8;             // private data: 2^n bytes (256)
    uint32_t data_start_address = 0x0007E000; // where the private data lies in RAM
    // Initial private data; empty means `id` 0xCCCCCCCC followed by zeros.
    std::vector<uint8_t> private_data;
    uint64_t flash_size = 64ull << 20; // bytes; the backing file is sparse
    std::string flash_dir;             // backing file's folder; empty: $TMPDIR or /tmp
    FlashFile flash_file = FlashFile::Temporary;
    bool returns_in_fes = true; // false: leaves the bus after CMD_FEL_RUN, never back
    std::chrono::milliseconds fes_delay {200}; // off the bus between FEL and FES
    uint16_t stage_mode_override = 0;          // nonzero: verify answers this stage_mode instead
    // Set: verify answers this data_length_log2 (any byte, e.g. 40) while the
    // area itself keeps 2^data_length_log2 bytes; for hosts' malformed-answer paths.
    std::optional<uint8_t> verify_data_length_log2_override;
    LinkModel link;
    std::vector<Fault> faults;
};

// One FEX command as the board received it.
struct CommandRecord {
    Stage stage;
    uint16_t code;
    uint8_t block[16];    // the command block as sent
    uint32_t data_length; // bytes of its data phase (0 when it had none)
    bool data_in;         // data phase from board to host
    uint8_t result;       // FEX status result sent back: 0 good, 1 failed;
                          // 0xFF when the host never read the status
};

// A CMD_FES_TRANS series, as the board stored it: from a start mark (or a
// chunk that does not follow on from the open series) through the chunks
// that follow on, closed by a finish mark.
struct TransferRecord {
    uint8_t selector;
    bool to_board;   // host to board
    uint64_t offset; // first byte: RAM address or flash offset
    uint64_t length; // bytes moved
    uint32_t crc32;  // CRC-32 of the bytes moved, in order
    bool finished;   // closed by a finish mark
};

struct WireStats {
    uint64_t requests = 0;  // driver requests reaching the board
    uint64_t transfers = 0; // USB transfers completed (status reply read)
    uint64_t commands = 0;  // FEX commands started
    uint64_t bytes_to_board = 0;
    uint64_t bytes_to_host = 0;
    uint64_t refused = 0; // transfers answered with a failed status or a failed request
};

class BoardCore;

// A board on a bus. Handles stay valid after the board has left the bus.
class SIMDEV_API Board {
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
    // FEX commands executed by CMD_FES_RUN: address, run byte, parameters.
    struct FesRun {
        uint32_t address;
        uint8_t run_byte;
        std::vector<uint8_t> params;
    };
    std::vector<FesRun> FesRuns() const;

    const std::shared_ptr<BoardCore>& Core() const { return core_; }

private:
    std::shared_ptr<BoardCore> core_;
};

// One uevent as emitted: the raw datagram and its parsed parts.
struct SIMDEV_API Uevent {
    std::string raw; // "ACTION@DEVPATH\0KEY=VALUE\0..."
    std::string action;
    std::string devpath;
    std::string Get(const std::string& key) const; // "" when absent
};

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
};

class BusCore;

class SIMDEV_API Bus {
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

private:
    std::shared_ptr<BusCore> core_;
};

// Builds a valid second-stage payload image around `body`.
SIMDEV_API std::vector<uint8_t> MakeSecondStage(const std::vector<uint8_t>& body);

// Splits a datagram into a Uevent, bounded by its length; false when it is
// not a uevent (no "@" header).
SIMDEV_API bool ParseUevent(const void* data, size_t length, Uevent& out);

// Board and bus options from VEMORA_SIM_* variables (see
// docs/simulated-device.md); `error` names the first bad value.
struct EnvConfig {
    BusOptions bus;
    BoardOptions board;
    unsigned boards = 1;
    std::chrono::milliseconds plug_delay {500};
    std::chrono::milliseconds plug_interval {2000};
    std::chrono::milliseconds fes_idle_unplug {0};
};
SIMDEV_API bool ConfigFromEnvironment(EnvConfig& config, std::string& error);
// Parses a VEMORA_SIM_FAULTS value ("unplug@fes:65536,fail-request:12").
SIMDEV_API bool ParseFaults(
    const std::string& text, std::vector<Fault>& faults, std::string& error);

} // namespace simdev
