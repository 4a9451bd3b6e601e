// The USB transfer layer of a board: every transfer is a 32-byte request
// block, a data phase of the length it names, and a 13-byte status reply.
// Traffic out of this order is what a strict device stalls on: the driver
// request fails (EPIPE, EOVERFLOW for a chunk longer than the phase, ETIMEDOUT
// for a read when the board has nothing to say) and the board waits for a
// new request block.
#include "BoardCore.h"
#include "Le.h"

#include <cerrno>
#include <cstring>
#include <thread>

namespace simdev {
namespace {

constexpr uint32_t kRequestBlock = 32;
constexpr uint32_t kStatusReply = 13;
constexpr uint8_t kCommandLength = 12;
constexpr uint8_t kDirRead = 0x11;
constexpr uint8_t kDirWrite = 0x12;
// Longest data phase the board buffers; longer request blocks are stalled.
constexpr uint32_t kMaxDataPhase = 64u << 20;
// Credit the link may run ahead of the clock, so that oversleeping on one
// request is made good on the next ones.
constexpr auto kLinkCredit = std::chrono::milliseconds(2);
constexpr auto kLinkSleepMin = std::chrono::microseconds(500);

} // namespace

const Fault* BoardCore::FaultFires(Fault::Kind kind)
{
    const Fault* fires = nullptr;
    for (auto& armed : faults_) {
        if (armed.fired || armed.fault.kind != kind)
            continue;
        if (armed.fault.stage && *armed.fault.stage != stage_)
            continue;
        if (++armed.count == armed.fault.at) {
            armed.fired = true;
            fires = &armed.fault;
        }
    }
    return fires;
}

std::chrono::steady_clock::time_point BoardCore::LinkDeadline(uint64_t bytes, bool new_transfer)
{
    const LinkModel& link = options_.link;
    const auto now = std::chrono::steady_clock::now();
    if (link.latency_us == 0 && link.bytes_per_second == 0)
        return now;
    std::chrono::nanoseconds cost {0};
    if (new_transfer)
        cost += std::chrono::microseconds(link.latency_us);
    if (link.bytes_per_second)
        cost += std::chrono::nanoseconds(bytes * 1'000'000'000ull / link.bytes_per_second);
    link_free_ = std::max(link_free_, now - kLinkCredit) + cost;
    return link_free_;
}

namespace {

void SleepUntil(std::chrono::steady_clock::time_point deadline)
{
    if (deadline - std::chrono::steady_clock::now() > kLinkSleepMin)
        std::this_thread::sleep_until(deadline);
}

} // namespace

int BoardCore::Send(const uint8_t* data, uint32_t length)
{
    // The request never writes through `data` when it comes from the host.
    return Serve(true, const_cast<uint8_t*>(data), length);
}

int BoardCore::Recv(uint8_t* data, uint32_t length)
{
    return Serve(false, data, length);
}

int BoardCore::Serve(bool send, uint8_t* data, uint32_t length)
{
    std::chrono::steady_clock::time_point deadline;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (OffWire())
            return ENODEV;
        deadline = LinkDeadline(length, send && wire_ == Wire::Idle);
    }
    SleepUntil(deadline);
    int result;
    bool leaves = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        result = Request(send, data, length, leaves);
    }
    Notify(leaves);
    return result;
}

void BoardCore::Notify(bool leaves)
{
    if (!leaves)
        return;
    Leave how;
    {
        std::lock_guard<std::mutex> hold(lock_);
        how = leaving_;
        leaving_ = Leave::None;
    }
    if (how == Leave::None) // another request already told the bus
        return;
    if (auto host = host_.lock())
        host->BoardLeaves(shared_from_this(), how == Leave::ToFes);
}

int BoardCore::Request(bool send, uint8_t* data, uint32_t length, bool& leaves)
{
    if (OffWire())
        return ENODEV;
    ++stats_.requests;
    last_activity_ = std::chrono::steady_clock::now();
    if (const Fault* fault = FaultFires(Fault::FailRequest))
        return fault->error > 0 ? fault->error : EIO;
    const bool data_phase = send ? wire_ == Wire::DataOut : wire_ == Wire::DataIn;
    int result;
    if (data_phase && FaultFires(Fault::Unplug)) {
        leaving_ = Leave::ForGood; // leaves now: ResetWire makes the wire idle
        ResetWire();
        result = ENODEV;
    } else {
        result = send ? SendLocked(data, length) : RecvLocked(data, length);
    }
    if (result != 0)
        ++stats_.refused;
    // A board that has run new code leaves once the exchange is over, and
    // answers nothing more until it is back.
    leaves = leaving_ != Leave::None && wire_ == Wire::Idle;
    off_wire_ = off_wire_ || leaves;
    return result;
}

int BoardCore::SendLocked(const uint8_t* data, uint32_t length)
{
    switch (wire_) {
    case Wire::Idle:
        return TakeRequestBlock(data, length);
    case Wire::DataOut:
        if (length > wire_length_ - wire_pos_) {
            ResetWire();
            return EOVERFLOW;
        }
        wire_data_.insert(wire_data_.end(), data, data + length);
        wire_pos_ += length;
        stats_.bytes_to_board += length;
        if (wire_pos_ == wire_length_)
            FinishWrite();
        return 0;
    default:
        ResetWire();
        return EPIPE;
    }
}

int BoardCore::TakeRequestBlock(const uint8_t* data, uint32_t length)
{
    if (length != kRequestBlock || std::memcmp(data, "QXUC", 4) != 0)
        return EPIPE;
    const uint32_t data_length = Le32(data + 8);
    const uint8_t direction = data[16];
    if (data[15] != kCommandLength || Le32(data + 18) != data_length
        || (direction != kDirRead && direction != kDirWrite) || data_length > kMaxDataPhase)
        return EPIPE;
    wire_length_ = data_length;
    wire_pos_ = 0;
    wire_data_.clear();
    if (direction == kDirWrite) {
        wire_ = Wire::DataOut;
        wire_data_.reserve(data_length);
        if (data_length == 0)
            FinishWrite();
        return 0;
    }
    wire_ok_ = OnRead(data_length, wire_data_);
    wire_data_.resize(data_length);
    wire_ = data_length == 0 ? Wire::Status : Wire::DataIn;
    return 0;
}

void BoardCore::FinishWrite()
{
    wire_ok_ = OnWrite(wire_data_);
    wire_data_.clear();
    wire_ = Wire::Status;
}

int BoardCore::RecvLocked(uint8_t* data, uint32_t length)
{
    switch (wire_) {
    case Wire::DataIn:
        if (length > wire_length_ - wire_pos_) {
            ResetWire();
            return EOVERFLOW;
        }
        std::memcpy(data, wire_data_.data() + wire_pos_, length);
        wire_pos_ += length;
        stats_.bytes_to_host += length;
        if (wire_pos_ == wire_length_)
            wire_ = Wire::Status;
        return 0;
    case Wire::Status: {
        if (length != kStatusReply) {
            ResetWire();
            return EPIPE;
        }
        std::memset(data, 0, length);
        std::memcpy(data, FaultFires(Fault::BadStatusMagic) ? "QXUX" : "QXUS", 4);
        PutLe32(data + 8, wire_length_ - wire_pos_); // residue
        const bool bad = FaultFires(Fault::BadStatus);
        data[12] = wire_ok_ && !bad ? 0 : 1;
        ++stats_.transfers;
        if (data[12] != 0)
            ++stats_.refused;
        wire_ = Wire::Idle;
        wire_data_.clear();
        return 0;
    }
    case Wire::Idle:
        return ETIMEDOUT;
    default:
        ResetWire();
        return EPIPE;
    }
}

void BoardCore::ResetWire()
{
    wire_ = Wire::Idle;
    wire_data_.clear();
    wire_pos_ = 0;
    wire_length_ = 0;
    AbortCommand();
}

} // namespace simdev
