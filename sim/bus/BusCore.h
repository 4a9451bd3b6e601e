// The bus behind `Bus`: places boards, attaches and detaches their nodes,
// sends their uevents, and carries out what must happen later (a board's
// return in FES) on a thread of its own.
#pragma once

#include "Bus.h"
#include "board/BoardCore.h"
#include "uevent/UeventRoute.h"
#include "uevent/UeventText.h"

#include <functional>
#include <map>
#include <thread>

namespace simdev {

class BusCore : public BoardHost, public std::enable_shared_from_this<BusCore> {
public:
    explicit BusCore(BusOptions options);
    ~BusCore() override;

    void Start();
    void Stop(); // pending returns are dropped; boards on the bus leave it

    bool Ok() const { return started_; }
    std::string Error() const;

    std::shared_ptr<BoardCore> Plug(BoardOptions options);
    void Unplug(const std::shared_ptr<BoardCore>& board);
    void EmitNoise();
    std::vector<Uevent> Events() const;
    bool Drain(std::chrono::milliseconds timeout) const;
    bool WaitAllRead(std::chrono::milliseconds timeout) const;
    bool WaitForListener(std::chrono::milliseconds timeout) const;

    void BoardLeaves(const std::shared_ptr<BoardCore>& board, bool returns) override;

private:
    using Clock = std::chrono::steady_clock;

    void Schedule(Clock::duration delay, std::function<void()> task);
    void Run();
    void Emit(const std::vector<UeventFields>& burst);
    void Send(const UeventFields& fields);
    // Node attached, arrival events, then the board told where it is.
    void Arrive(const std::shared_ptr<BoardCore>& board, const UsbPlace& place);
    void Depart(const std::shared_ptr<BoardCore>& board, bool returns);
    // Off the bus for good, from wherever it is.
    void Pull(const std::shared_ptr<BoardCore>& board);
    // Under plug_lock_: a board gone for good is no longer the bus's.
    void Forget(const std::shared_ptr<BoardCore>& board);
    void Return(const std::shared_ptr<BoardCore>& board);
    std::string NodeFor(unsigned minor) const;

    BusOptions options_;
    bool started_ = false;
    mutable std::mutex error_lock_;
    std::string error_; // why the bus did not start, or the last plug failed
    std::mt19937_64 rng_;
    KernelSender kernel_;

    std::mutex plug_lock_;                           // one arrival or departure at a time, in order
    std::vector<std::shared_ptr<BoardCore>> boards_; // not yet gone for good
    unsigned next_port_ = 1;
    unsigned next_devnum_ = 2; // 1 is the root hub
    unsigned next_minor_ = 0;

    mutable std::mutex event_lock_;
    uint64_t seqnum_;
    std::vector<Uevent> events_;

    std::mutex task_lock_;
    std::condition_variable task_wake_;
    std::multimap<Clock::time_point, std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace simdev
