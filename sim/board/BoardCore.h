// The board behind a driver node: the USB transfer layer (request block,
// data phase, status reply) and, on top of it, the FEX command layer of the
// FEL and FES stages. The bus owns its place on the bus (node, events); the
// board tells the bus when it leaves (BoardHost).
#pragma once

#include "BoardTypes.h"
#include "FlashStore.h"
#include "SimDriver.h"
#include "SparseRam.h"
#include "uevent/UeventText.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>

namespace simdev {

class BoardCore;

// How a board reaches its bus. Called without the board's lock held.
class BoardHost {
public:
    virtual ~BoardHost() = default;
    // The board leaves the bus now; `returns` when it comes back in FES.
    virtual void BoardLeaves(const std::shared_ptr<BoardCore>& board, bool returns) = 0;
};

class BoardCore : public simdrv::DeviceModel, public std::enable_shared_from_this<BoardCore> {
public:
    enum class Life { OnBus, Away, Gone };

    BoardCore(BoardOptions options, uint64_t seed, std::weak_ptr<BoardHost> host);

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // simdrv::DeviceModel
    int Send(const uint8_t* data, uint32_t length) override;
    int Recv(uint8_t* data, uint32_t length) override;
    int Admit(int flags) override;
    void Opened(int flags) override;
    void Closed() override;

    // Bus side.
    void Arrived(const UsbPlace& place, const std::string& node);
    void Left(bool returns);
    void EnterFes(); // the second stage starts: RAM cleared but for the private data
    UsbPlace Place() const;
    Life CurrentLife() const;
    std::chrono::milliseconds FesDelay() const { return options_.fes_delay; }
    // No descriptor open and no request for `idle`.
    bool IdleFor(std::chrono::milliseconds idle) const;

    // Test side (Board forwards here).
    Stage CurrentStage() const;
    std::string NodePath() const;
    std::vector<std::string> NodeHistory() const;
    // Waits, under the board's lock, for `done` of its life and stage.
    bool WaitForLife(
        std::chrono::milliseconds timeout, const std::function<bool(Life, Stage)>& done) const;
    std::vector<uint8_t> PrivateData() const;
    bool SetPrivateData(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ReadRam(uint32_t address, uint32_t length) const;
    void WriteRam(uint32_t address, const std::vector<uint8_t>& bytes);
    uint64_t FlashSize() const { return flash_.Size(); }
    std::string FlashPath() const { return flash_.Path(); }
    std::vector<uint8_t> ReadFlash(uint64_t offset, uint64_t length) const;
    std::vector<CommandRecord> Commands() const;
    std::vector<TransferRecord> Transfers() const;
    WireStats Stats() const;
    std::vector<std::string> Messages() const;
    std::vector<FesRun> FesRuns() const;

private:
    // Transfer layer (BoardWire.cpp).
    enum class Wire { Idle, DataOut, DataIn, Status };
    // What the command layer expects of the next transfer.
    enum class Expect { Command, DataOut, DataIn, Status };
    enum class Leave { None, ToFes, ForGood };

    int Serve(bool send, uint8_t* data, uint32_t length);
    int Request(bool send, uint8_t* data, uint32_t length, bool& leaves);
    int SendLocked(const uint8_t* data, uint32_t length);
    int RecvLocked(uint8_t* data, uint32_t length);
    int TakeRequestBlock(const uint8_t* data, uint32_t length);
    void FinishWrite();
    void ResetWire();
    // Gone for good, or on its way off the bus: every request fails with ENODEV.
    bool OffWire() const { return life_ == Life::Gone || off_wire_; }
    void Notify(bool leaves);
    const Fault* FaultFires(Fault::Kind kind);
    // What the link needs for a request of `bytes` (opening a transfer or
    // not); 0 without a link model.
    std::chrono::nanoseconds LinkCost(uint64_t bytes, bool new_transfer) const;

    // Command layer (BoardFex.cpp): OnWrite and OnRead give the transfer's
    // USB status (true good).
    bool OnWrite(const uint8_t* data, uint32_t size);
    bool OnRead(uint32_t length, uint8_t* out);
    void StartCommand(const uint8_t* block);
    void ExpectData(Expect direction, uint32_t length, bool any_length);
    void EndCommand(uint8_t result);
    void AbortCommand();
    void RunDataOut(const uint8_t* data, uint32_t size);
    void FillDataIn(uint32_t length, uint8_t* out);
    // CMD_FES_TRANS's data, timed into stats_.storage_ns; MoveFes does it.
    void FesTrans(bool to_board, const uint8_t* data, uint8_t* out, uint32_t length);
    void MoveFes(bool to_board, const uint8_t* data, uint8_t* out, uint32_t length);
    bool ResolveFes(uint64_t& offset, bool& flash) const;
    void Note(const std::string& text);
    uint16_t StageMode() const;

    BoardOptions options_;
    std::weak_ptr<BoardHost> host_;
    uint32_t serial_;
    std::string error_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;

    // Place and life.
    Life life_ = Life::Away;
    Stage stage_ = Stage::Fel;
    UsbPlace place_;
    std::string node_;
    std::vector<std::string> history_;
    int open_ = 0;
    std::chrono::steady_clock::time_point last_activity_;

    // Memory.
    SparseRam ram_;
    FlashStore flash_;

    // Transfer state.
    Wire wire_ = Wire::Idle;
    uint32_t wire_length_ = 0;
    // The data phase, either way, in its first wire_length_ bytes; it keeps
    // the size of the longest phase so far, so a phase costs no allocation.
    std::vector<uint8_t> wire_data_;
    uint32_t wire_pos_ = 0;
    bool wire_ok_ = true; // status of the transfer in progress

    // Command state.
    Expect expect_ = Expect::Command;
    uint8_t block_[16] = {};
    uint16_t code_ = 0;
    bool cmd_ok_ = true;          // the command is valid here
    bool forced_fail_ = false;    // a fault makes it report failure and write nothing
    bool cmd_any_length_ = false; // data phase of any length up to cmd_length_
    uint32_t cmd_length_ = 0;
    Leave leave_after_ = Leave::None;
    Leave leaving_ = Leave::None; // decided by the last status phase

    // Open CMD_FES_TRANS series (between start and finish marks).
    bool series_open_ = false;

    // Records.
    std::vector<CommandRecord> commands_;
    std::vector<TransferRecord> transfers_;
    std::vector<std::string> messages_;
    size_t unread_ = 0; // first message CMD_FES_GET_MSG has not handed out
    std::vector<FesRun> fes_runs_;
    WireStats stats_;

    // Faults and their counters.
    struct Armed {
        Fault fault;
        uint64_t count = 0;
        bool fired = false;
    };
    std::vector<Armed> faults_;
    bool off_wire_ = false; // decided to leave, or left for FES and not back yet

    // Link pacing: link time the requests have cost and the board has not
    // slept yet; below zero after a sleep ran late, which later requests
    // make good.
    std::chrono::nanoseconds link_owed_ {0};
};

} // namespace simdev
