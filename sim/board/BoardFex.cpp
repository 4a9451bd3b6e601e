// The FEX command layer of a board. A command is a 16-byte block sent as a
// write transfer, then the data phase the command implies, then an 8-byte FEX
// status read (byte 4: 0 done, 1 failed). A transfer that does not fit the
// command in progress gets a failed USB status and ends the command; a status
// read where a data phase was due ends it with a failed FEX status.
#include "BoardCore.h"
#include "Crc32.h"
#include "Le.h"
#include "SecondStage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace simdev {
namespace {

constexpr uint32_t kCommandBlock = 16;
constexpr uint32_t kFexStatus = 8;
constexpr uint32_t kMaxReply = 4096; // records are zero-padded to the length read
constexpr uint32_t kMaxRunParams = 255;

enum : uint16_t {
    kVerifyDev = 0x0001,
    kIsReady = 0x0003,
    kGetCmdSetVer = 0x0004,
    kFelDown = 0x0101,
    kFelRun = 0x0102,
    kFelUp = 0x0103,
    kFesTrans = 0x0201,
    kFesRun = 0x0202,
    kFesInfo = 0x0203,
    kFesGetMsg = 0x0204,
};

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

uint16_t BoardCore::StageMode() const
{
    if (options_.stage_mode_override)
        return options_.stage_mode_override;
    return stage_ == Stage::Fel ? 1 : 2;
}

void BoardCore::Note(const std::string& text)
{
    messages_.push_back(text);
}

void BoardCore::ExpectData(Expect direction, uint32_t length, bool any_length)
{
    expect_ = length == 0 && !any_length ? Expect::Status : direction;
    cmd_length_ = length;
    cmd_any_length_ = any_length;
}

void BoardCore::StartCommand(const uint8_t* block)
{
    std::memcpy(block_, block, kCommandBlock);
    code_ = Le16(block);
    CommandRecord record {};
    record.stage = stage_;
    record.code = code_;
    std::memcpy(record.block, block, kCommandBlock);
    record.result = 0xFF;
    commands_.push_back(record);
    ++stats_.commands;
    leave_after_ = Leave::None;
    cmd_ok_ = true;
    forced_fail_ = FaultFires(Fault::FexStatusFail) != nullptr;
    expect_ = Expect::Status;
    const bool fel = stage_ == Stage::Fel;
    const uint32_t length = Le32(block + 8);
    switch (code_) {
    case kVerifyDev:
    case kIsReady:
    case kGetCmdSetVer:
        ExpectData(Expect::DataIn, kMaxReply, true);
        break;
    case kFelDown:
    case kFelUp:
        cmd_ok_ = cmd_ok_ && fel;
        ExpectData(code_ == kFelDown ? Expect::DataOut : Expect::DataIn, length, false);
        break;
    case kFelRun: {
        cmd_ok_ = cmd_ok_ && fel;
        if (!cmd_ok_ || forced_fail_)
            break;
        const uint32_t address = Le32(block + 4);
        const std::string refusal = CheckSecondStage(ram_, address);
        if (!refusal.empty()) {
            cmd_ok_ = false;
            Note("fel: run at " + Hex(address) + " refused: " + refusal);
            break;
        }
        Note("fel: second stage at " + Hex(address) + " runs");
        leave_after_ = options_.returns_in_fes ? Leave::ToFes : Leave::ForGood;
        break;
    }
    case kFesTrans: {
        const unsigned direction = (block[13] >> 4) & 3;
        uint64_t offset;
        bool flash;
        cmd_ok_
            = cmd_ok_ && !fel && (direction == 1 || direction == 2) && ResolveFes(offset, flash);
        if (direction == 1 || direction == 2)
            ExpectData(direction == 1 ? Expect::DataOut : Expect::DataIn, length, false);
        break;
    }
    case kFesRun:
        cmd_ok_ = cmd_ok_ && !fel;
        ExpectData(Expect::DataOut, kMaxRunParams, true);
        break;
    case kFesInfo: {
        const unsigned form = block[4] >> 4;
        cmd_ok_ = cmd_ok_ && !fel && form == 0;
        if (form == 0 || form == 1)
            ExpectData(
                form == 1 && (block[4] & 0x08) ? Expect::DataOut : Expect::DataIn, kMaxReply, true);
        break;
    }
    case kFesGetMsg:
        cmd_ok_ = cmd_ok_ && !fel;
        ExpectData(Expect::DataIn, Le32(block + 4), false);
        break;
    default:
        cmd_ok_ = false; // not a command of this board
        break;
    }
}

void BoardCore::EndCommand(uint8_t result)
{
    if (!commands_.empty() && commands_.back().result == 0xFF)
        commands_.back().result = result;
    expect_ = Expect::Command;
}

void BoardCore::AbortCommand()
{
    expect_ = Expect::Command;
    leave_after_ = Leave::None;
}

bool BoardCore::OnWrite(const uint8_t* data, uint32_t size)
{
    if (expect_ == Expect::DataOut
        && (cmd_any_length_ ? size <= cmd_length_ : size == cmd_length_)) {
        commands_.back().data_length = size;
        if (cmd_ok_ && !forced_fail_)
            RunDataOut(data, size);
        expect_ = Expect::Status;
        return true;
    }
    if (size == kCommandBlock && expect_ != Expect::DataOut) {
        // A new block where a status was due: the host gave up on the last one.
        StartCommand(data);
        return true;
    }
    AbortCommand();
    return false;
}

bool BoardCore::OnRead(uint32_t length, uint8_t* out)
{
    if (expect_ == Expect::DataIn
        && (cmd_any_length_ ? length >= 1 && length <= cmd_length_ : length == cmd_length_)) {
        commands_.back().data_length = length;
        commands_.back().data_in = true;
        if (cmd_ok_)
            FillDataIn(length, out);
        // A command that failed, here or before, answers zeros.
        if (!cmd_ok_)
            std::memset(out, 0, length);
        expect_ = Expect::Status;
        return true;
    }
    std::memset(out, 0, length);
    if (length == kFexStatus && expect_ != Expect::Command) {
        // A status read where a data phase was due fails the command.
        const bool ok = cmd_ok_ && !forced_fail_ && expect_ == Expect::Status;
        PutLe16(out, 0xFFFF);
        out[4] = ok ? 0 : 1;
        if (ok)
            leaving_ = leave_after_;
        EndCommand(out[4]);
        return true;
    }
    AbortCommand();
    return false;
}

void BoardCore::RunDataOut(const uint8_t* data, uint32_t size)
{
    switch (code_) {
    case kFelDown:
        ram_.Write(Le32(block_ + 4), data, size);
        break;
    case kFesTrans:
        FesTrans(true, data, nullptr, size);
        break;
    case kFesRun: {
        FesRun run {Le32(block_ + 4), block_[8], std::vector<uint8_t>(data, data + size)};
        fes_runs_.push_back(run);
        Note("fes: run at " + Hex(run.address) + " with run byte " + Hex(run.run_byte));
        if (run.run_byte & 1)
            leave_after_ = Leave::ForGood; // reboots into the firmware just written
        break;
    }
    default:
        break; // a form-1 FES_INFO write: taken, not understood, answered as failed
    }
}

// Data reads fill all `length` bytes; records are zero-padded to it.
void BoardCore::FillDataIn(uint32_t length, uint8_t* out)
{
    std::vector<uint8_t> record;
    switch (code_) {
    case kVerifyDev: {
        record.assign(32, 0);
        const bool bad = FaultFires(Fault::BadVerifyMagic) != nullptr;
        std::memcpy(record.data(), bad ? "QXUSBBAD" : "QXUSBFEX", 8);
        PutLe32(record.data() + 8, serial_);
        PutLe32(record.data() + 12, 0x00010000); // firmware 1.0
        PutLe16(record.data() + 16, StageMode());
        record[19] = options_.verify_data_length_log2_override.value_or(options_.data_length_log2);
        PutLe32(record.data() + 20, options_.data_start_address);
        break;
    }
    case kIsReady:
        record.assign(20, 0);
        PutLe16(record.data(), 1); // ready for the next command
        PutLe16(record.data() + 2, StageMode());
        break;
    case kGetCmdSetVer:
        record.assign(16, 0);
        PutLe16(record.data(), 1); // command set 1.0
        PutLe16(record.data() + 4, StageMode());
        break;
    case kFelUp:
        ram_.Read(Le32(block_ + 4), out, length);
        return;
    case kFesTrans:
        FesTrans(false, nullptr, out, length);
        return;
    case kFesInfo:
        record.assign(32, 0);
        std::memcpy(record.data(), "VEMOINFO", 8);
        PutLe64(record.data() + 8, flash_.Size());
        PutLe32(record.data() + 16, options_.data_start_address);
        record[20] = options_.data_length_log2;
        PutLe32(record.data() + 24, serial_);
        break;
    case kFesGetMsg: {
        // Whole lines while they fit with a closing NUL; a first line too
        // long for the read is cut, the rest wait for the next read.
        std::string text;
        while (unread_ < messages_.size()) {
            const std::string line = messages_[unread_] + "\n";
            if (text.size() + line.size() >= length) {
                if (text.empty()) {
                    text = line.substr(0, length - 1);
                    ++unread_;
                }
                break;
            }
            text += line;
            ++unread_;
        }
        record.assign(text.begin(), text.end());
        break;
    }
    default:
        std::memset(out, 0, length);
        return;
    }
    // An empty record (no messages) has no storage to copy from.
    const size_t kept = std::min<size_t>(record.size(), length);
    std::copy_n(record.begin(), kept, out);
    std::memset(out + kept, 0, length - kept);
}

bool BoardCore::ResolveFes(uint64_t& offset, bool& flash) const
{
    const uint8_t high = block_[12] >> 4;
    const uint8_t low = block_[12] & 0x0F;
    const uint32_t address = Le32(block_ + 4);
    const uint32_t length = Le32(block_ + 8);
    if (high == 0 && low == 0) {
        flash = false;
        offset = address;
        return true;
    }
    if (high != 1)
        return false;
    flash = true;
    offset = (uint64_t {low} << 32) + address;
    return offset <= flash_.Size() && length <= flash_.Size() - offset;
}

void BoardCore::FesTrans(bool to_board, const uint8_t* data, uint8_t* out, uint32_t length)
{
    const auto began = std::chrono::steady_clock::now();
    MoveFes(to_board, data, out, length);
    stats_.storage_ns += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - began)
                                                   .count());
}

void BoardCore::MoveFes(bool to_board, const uint8_t* data, uint8_t* out, uint32_t length)
{
    uint64_t offset;
    bool flash;
    ResolveFes(offset, flash);
    const uint8_t selector = block_[12];
    const bool start = block_[13] & 0x40;
    const bool finish = block_[13] & 0x80;
    bool stored;
    if (to_board)
        stored = flash ? flash_.Write(offset, data, length)
                       : (ram_.Write(static_cast<uint32_t>(offset), data, length), true);
    else
        stored = flash ? flash_.Read(offset, out, length)
                       : (ram_.Read(static_cast<uint32_t>(offset), out, length), true);
    if (!stored) {
        cmd_ok_ = false;
        return;
    }
    // A chunk continues the open series when it follows on; a start mark, or
    // anything else, begins a new one.
    TransferRecord* series = series_open_ && !transfers_.empty() ? &transfers_.back() : nullptr;
    if (start || !series || series->selector != selector || series->to_board != to_board
        || series->offset + series->length != offset) {
        transfers_.push_back(TransferRecord {selector, to_board, offset, 0, 0, false});
        series = &transfers_.back();
        series_open_ = true;
    }
    series->length += length;
    series->crc32 = Crc32(to_board ? data : out, length, series->crc32);
    if (finish) {
        series->finished = true;
        series_open_ = false;
        Note("fes: " + std::string(to_board ? "wrote " : "read ") + std::to_string(series->length)
            + " bytes at " + Hex(series->offset) + (flash ? " of flash" : " of RAM") + ", crc32 "
            + Hex(series->crc32));
    }
}

} // namespace simdev
