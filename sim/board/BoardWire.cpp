// The USB transfer layer of a board: every transfer is a 32-byte request
// block, a data phase of the length it names, and a 13-byte status reply.
// Traffic out of this order is what a strict device stalls on: the driver
// request fails (EPIPE, EOVERFLOW for a chunk longer than the phase, ETIMEDOUT
// for a read when the board has nothing to say) and the board waits for a
// new request block.
#include "BoardCore.h"
#include "Le.h"

#include <algorithm>
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
// The link's time is slept once this much is owed (shorter sleeps would
// mostly be the sleep's own overhead), and a sleep that ran late is made good
// on the next requests by up to this much.
constexpr std::chrono::nanoseconds kLinkSleepMin = std::chrono::microseconds(500);
constexpr std::chrono::nanoseconds kLinkCredit = std::chrono::milliseconds(2);

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

std::chrono::nanoseconds BoardCore::LinkCost(uint64_t bytes, bool new_transfer) const
{
    const LinkModel& link = options_.link;
    std::chrono::nanoseconds cost {0};
    if (new_transfer)
        cost += std::chrono::microseconds(link.latency_us);
    if (link.bytes_per_second)
        cost += std::chrono::nanoseconds(bytes * 1'000'000'000ull / link.bytes_per_second);
    return cost;
}

int BoardCore::Send(const uint8_t* data, uint32_t length)
{
    // The request never writes through `data` when it comes from the host.
    return Serve(true, const_cast<uint8_t*>(data), length);
}

int BoardCore::Recv(uint8_t* data, uint32_t length)
{
    return Serve(false, data, length);
}

// The link is synchronous, as a USB transfer is: a request costs its link
// time on top of whatever the host did before it and the board does with it,
// so time the host spends between requests is never hidden behind the link.
int BoardCore::Serve(bool send, uint8_t* data, uint32_t length)
{
    int result;
    bool leaves = false;
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (OffWire())
            return ENODEV;
        link_owed_ += LinkCost(length, send && wire_ == Wire::Idle);
        if (link_owed_ >= kLinkSleepMin) {
            const auto owed = link_owed_;
            hold.unlock();
            const auto start = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(owed);
            const auto slept = std::chrono::steady_clock::now() - start;
            hold.lock();
            link_owed_ = std::max<std::chrono::nanoseconds>(link_owed_ - slept, -kLinkCredit);
        }
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
        std::memcpy(wire_data_.data() + wire_pos_, data, length);
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
    if (wire_data_.size() < data_length)
        wire_data_.resize(data_length);
    if (direction == kDirWrite) {
        wire_ = Wire::DataOut;
        if (data_length == 0)
            FinishWrite();
        return 0;
    }
    wire_ok_ = OnRead(data_length, wire_data_.data());
    wire_ = data_length == 0 ? Wire::Status : Wire::DataIn;
    return 0;
}

void BoardCore::FinishWrite()
{
    wire_ok_ = OnWrite(wire_data_.data(), wire_length_);
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
    wire_pos_ = 0;
    wire_length_ = 0;
    AbortCommand();
}

} // namespace simdev
