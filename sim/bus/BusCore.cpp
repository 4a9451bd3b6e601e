#include "BusCore.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "SimDriver.h"

namespace simdev {

BusCore::BusCore(BusOptions options)
    : options_(std::move(options))
    , rng_(options_.seed)
    , seqnum_(2000 + rng_() % 1000)
{
}

BusCore::~BusCore()
{
    Stop();
}

void BusCore::Start()
{
    if (options_.route == UeventRoute::Kernel) {
        std::string error;
        if (!kernel_.Open(error)) {
            std::lock_guard<std::mutex> hold(error_lock_);
            error_ = error;
            return;
        }
        ShimEnable(false);
    } else {
        ShimEnable(true);
    }
    worker_ = std::thread(&BusCore::Run, this);
    started_ = true;
}

void BusCore::Stop()
{
    {
        std::lock_guard<std::mutex> hold(task_lock_);
        stopping_ = true;
        tasks_.clear();
    }
    task_wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    std::lock_guard<std::mutex> hold(plug_lock_);
    const std::vector<std::shared_ptr<BoardCore>> boards = boards_;
    for (const auto& board : boards)
        Pull(board);
}

void BusCore::Schedule(Clock::duration delay, std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> hold(task_lock_);
        if (stopping_)
            return;
        tasks_.emplace(Clock::now() + delay, std::move(task));
    }
    task_wake_.notify_all();
}

void BusCore::Run()
{
    std::unique_lock<std::mutex> hold(task_lock_);
    while (!stopping_) {
        if (tasks_.empty()) {
            task_wake_.wait(hold);
            continue;
        }
        const auto due = tasks_.begin()->first;
        if (Clock::now() < due) {
            task_wake_.wait_until(hold, due);
            continue;
        }
        auto task = std::move(tasks_.begin()->second);
        tasks_.erase(tasks_.begin());
        hold.unlock();
        task();
        hold.lock();
    }
}

std::string BusCore::NodeFor(unsigned minor) const
{
    return options_.dev_dir + "/qx_efex" + std::to_string(minor);
}

void BusCore::Send(const UeventFields& fields)
{
    // Called with event_lock_ held, so SEQNUM order is delivery order.
    const std::string datagram = ComposeUevent(fields, ++seqnum_);
    Uevent event;
    ParseUevent(datagram.data(), datagram.size(), event);
    if (options_.keep_events)
        events_.push_back(event);
    if (options_.route == UeventRoute::Kernel)
        kernel_.Send(datagram);
    else
        ShimBroadcast(datagram);
}

void BusCore::Emit(const std::vector<UeventFields>& burst)
{
    std::lock_guard<std::mutex> hold(event_lock_);
    for (size_t i = 0; i < burst.size(); ++i) {
        if (i > 0 && options_.event_gap.count() > 0)
            std::this_thread::sleep_for(options_.event_gap);
        Send(burst[i]);
        if (options_.noise && rng_() % 3 == 0)
            Send(QuietNoise(rng_));
    }
}

void BusCore::EmitNoise()
{
    std::vector<UeventFields> burst;
    {
        std::lock_guard<std::mutex> hold(event_lock_);
        burst = NoiseBurst(rng_);
    }
    Emit(burst);
}

std::shared_ptr<BoardCore> BusCore::Plug(BoardOptions options)
{
    if (!Ok())
        return nullptr;
    std::lock_guard<std::mutex> hold(plug_lock_);
    uint64_t seed;
    {
        std::lock_guard<std::mutex> events(event_lock_);
        seed = rng_();
    }
    auto board = std::make_shared<BoardCore>(std::move(options), seed, weak_from_this());
    if (!board->Ok()) {
        std::lock_guard<std::mutex> errors(error_lock_);
        error_ = board->Error();
        return nullptr;
    }
    Arrive(board, UsbPlace {next_port_++, next_devnum_++, next_minor_++});
    boards_.push_back(board);
    return board;
}

void BusCore::Arrive(const std::shared_ptr<BoardCore>& board, const UsbPlace& place)
{
    const std::string node = NodeFor(place.minor);
    simdrv::AttachNode(node, board);
    Emit(ArrivalBurst(place));
    board->Arrived(place, node);
}

void BusCore::Depart(const std::shared_ptr<BoardCore>& board, bool returns)
{
    const UsbPlace place = board->Place();
    const std::string node = board->NodePath();
    simdrv::DetachNode(node);
    Emit(DepartureBurst(place));
    board->Left(returns);
    if (!returns)
        Forget(board);
}

void BusCore::Return(const std::shared_ptr<BoardCore>& board)
{
    std::lock_guard<std::mutex> hold(plug_lock_);
    if (board->CurrentLife() != BoardCore::Life::Away)
        return; // pulled while it was away
    board->EnterFes();
    UsbPlace place = board->Place();
    place.devnum = next_devnum_++;
    place.minor = next_minor_++;
    Arrive(board, place);
}

void BusCore::Unplug(const std::shared_ptr<BoardCore>& board)
{
    std::lock_guard<std::mutex> hold(plug_lock_);
    Pull(board);
}

void BusCore::Pull(const std::shared_ptr<BoardCore>& board)
{
    switch (board->CurrentLife()) {
    case BoardCore::Life::OnBus:
        Depart(board, false);
        break;
    case BoardCore::Life::Away:
        board->Left(false);
        Forget(board);
        break;
    case BoardCore::Life::Gone:
        break;
    }
}

void BusCore::Forget(const std::shared_ptr<BoardCore>& board)
{
    // Its handles keep it as long as they are held.
    boards_.erase(std::remove(boards_.begin(), boards_.end(), board), boards_.end());
}

void BusCore::BoardLeaves(const std::shared_ptr<BoardCore>& board, bool returns)
{
    // Not on the host's thread: its driver request returns first.
    Schedule(Clock::duration::zero(), [this, board, returns] {
        {
            std::lock_guard<std::mutex> hold(plug_lock_);
            if (board->CurrentLife() != BoardCore::Life::OnBus)
                return;
            Depart(board, returns);
        }
        if (returns)
            Schedule(board->FesDelay(), [this, board] { Return(board); });
    });
}

std::string BusCore::Error() const
{
    std::lock_guard<std::mutex> hold(error_lock_);
    return error_;
}

std::vector<Uevent> BusCore::Events() const
{
    std::lock_guard<std::mutex> hold(event_lock_);
    return events_;
}

bool BusCore::Drain(std::chrono::milliseconds timeout) const
{
    return options_.route == UeventRoute::Kernel || ShimDrain(timeout);
}

bool BusCore::WaitAllRead(std::chrono::milliseconds timeout) const
{
    return options_.route == UeventRoute::Shim && ShimWaitAllRead(timeout);
}

namespace {

// A netlink socket of this process bound to the uevent group, as the kernel
// lists it in /proc/self/net/netlink (protocol 15, groups bit 0), known by
// the inode of one of this process's descriptors.
bool KernelListenerBound()
{
    std::set<std::string> own;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind("socket:[", 0) == 0)
            own.insert(target.substr(8, target.size() - 9));
    }
    std::ifstream table("/proc/self/net/netlink");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string socket;
        std::string inode;
        unsigned protocol = 0;
        unsigned long pid = 0;
        unsigned long groups = 0;
        if (!(fields >> socket >> protocol >> pid >> std::hex >> groups))
            continue;
        for (std::string field; fields >> field;)
            inode = field;
        if (protocol == 15 && (groups & 1) && own.count(inode))
            return true;
    }
    return false;
}

} // namespace

bool BusCore::WaitForListener(std::chrono::milliseconds timeout) const
{
    if (options_.route == UeventRoute::Shim)
        return ShimWaitForListener(timeout);
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!KernelListenerBound()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace simdev
