// What a simulated board is given (options, faults, link) and what it records
// of the traffic it met (part of sim/SimDevice.h).
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
// it; see `Board::Transfers`.
//
// CMD_FES_RUN: recorded (`Board::FesRuns`); with run_flag (bit 0 of the run
// byte) set the board reboots into its firmware: it leaves the bus for good.
// Other replies: docs/simulated-device.md.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simdev {

enum class Stage { Fel, Fes };

// How a board's link costs time; zero fields cost nothing (the default). The
// link is synchronous: its time adds to the host's and the board's own.
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
    // Nonzero: every open of the board's nodes fails with this errno, as a
    // node the user has no permission for fails with EACCES.
    int open_error = 0;
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
    // Time the board spent storing and fetching the data of CMD_FES_TRANS
    // (its flash file or RAM) and checksumming it: its own work, which a real
    // board does on its own processor.
    uint64_t storage_ns = 0;
};

// FEX commands executed by CMD_FES_RUN: address, run byte, parameters.
struct FesRun {
    uint32_t address;
    uint8_t run_byte;
    std::vector<uint8_t> params;
};

#pragma GCC visibility push(default) // exported by libvemora_simdev.so

// Builds a valid second-stage payload image around `body`.
std::vector<uint8_t> MakeSecondStage(const std::vector<uint8_t>& body);

#pragma GCC visibility pop

} // namespace simdev
