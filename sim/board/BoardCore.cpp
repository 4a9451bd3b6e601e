// A board's life on the bus and what tests may see of it.
#include "BoardCore.h"
#include "Le.h"

namespace simdev {
namespace {

constexpr uint8_t kMaxDataLog2 = 24; // a private area of up to 16 MiB
constexpr uint32_t kFreshId = 0xCCCCCCCC;

} // namespace

BoardCore::BoardCore(BoardOptions options, uint64_t seed, std::weak_ptr<BoardHost> host)
    : options_(std::move(options))
    , host_(std::move(host))
    , flash_(options_.flash_size, options_.flash_dir, static_cast<int>(options_.flash_file))
{
    std::mt19937_64 rng(seed);
    serial_ = static_cast<uint32_t>(rng());
    for (const Fault& fault : options_.faults) {
        Armed armed {fault};
        if (armed.fault.at == 0)
            armed.fault.at = 1 + rng() % 32;
        faults_.push_back(armed);
    }
    if (!flash_.Ok()) {
        error_ = flash_.Error();
        return;
    }
    if (options_.data_length_log2 > kMaxDataLog2) {
        error_ = "private data of 2^" + std::to_string(options_.data_length_log2)
            + " bytes is more than the board has";
        return;
    }
    const size_t area = size_t {1} << options_.data_length_log2;
    std::vector<uint8_t> initial = options_.private_data;
    if (initial.size() > area) {
        error_ = "initial private data is longer than the area";
        return;
    }
    if (initial.empty()) {
        initial.assign(4, 0);
        PutLe32(initial.data(), kFreshId);
    }
    initial.resize(area, 0);
    ram_.Write(options_.data_start_address, initial.data(), initial.size());
}

int BoardCore::Admit(int)
{
    return options_.open_error;
}

void BoardCore::Opened(int)
{
    std::lock_guard<std::mutex> hold(lock_);
    // A first descriptor starts a fresh session, as the driver resets the
    // endpoints on open: nothing left over from an abandoned exchange.
    if (open_++ == 0 && leaving_ == Leave::None)
        ResetWire();
    last_activity_ = std::chrono::steady_clock::now();
}

void BoardCore::Closed()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (open_ > 0)
        --open_;
    last_activity_ = std::chrono::steady_clock::now();
}

void BoardCore::Arrived(const UsbPlace& place, const std::string& node)
{
    std::lock_guard<std::mutex> hold(lock_);
    place_ = place;
    node_ = node;
    history_.push_back(node);
    life_ = Life::OnBus;
    last_activity_ = std::chrono::steady_clock::now();
    if (stage_ == Stage::Fes)
        Note("fes: ready");
    changed_.notify_all();
}

void BoardCore::Left(bool returns)
{
    std::lock_guard<std::mutex> hold(lock_);
    node_.clear();
    life_ = returns ? Life::Away : Life::Gone;
    changed_.notify_all();
}

void BoardCore::EnterFes()
{
    std::lock_guard<std::mutex> hold(lock_);
    // The second stage keeps the private data and nothing else of FEL's RAM.
    std::vector<uint8_t> area(size_t {1} << options_.data_length_log2);
    ram_.Read(options_.data_start_address, area.data(), area.size());
    ram_.Clear();
    ram_.Write(options_.data_start_address, area.data(), area.size());
    stage_ = Stage::Fes;
    off_wire_ = false;
    ResetWire();
    series_open_ = false;
    for (auto& armed : faults_) // counts restart with the stage
        if (!armed.fired)
            armed.count = 0;
}

UsbPlace BoardCore::Place() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return place_;
}

BoardCore::Life BoardCore::CurrentLife() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return life_;
}

bool BoardCore::IdleFor(std::chrono::milliseconds idle) const
{
    std::lock_guard<std::mutex> hold(lock_);
    return open_ == 0 && std::chrono::steady_clock::now() - last_activity_ >= idle;
}

Stage BoardCore::CurrentStage() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return stage_;
}

std::string BoardCore::NodePath() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return node_;
}

std::vector<std::string> BoardCore::NodeHistory() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return history_;
}

bool BoardCore::WaitForLife(
    std::chrono::milliseconds timeout, const std::function<bool(Life, Stage)>& done) const
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, timeout, [&] { return done(life_, stage_); });
}

std::vector<uint8_t> BoardCore::PrivateData() const
{
    return ReadRam(options_.data_start_address, 1u << options_.data_length_log2);
}

bool BoardCore::SetPrivateData(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > size_t {1} << options_.data_length_log2)
        return false;
    std::lock_guard<std::mutex> hold(lock_);
    ram_.Write(options_.data_start_address, bytes.data(), bytes.size());
    return true;
}

std::vector<uint8_t> BoardCore::ReadRam(uint32_t address, uint32_t length) const
{
    std::vector<uint8_t> bytes(length);
    std::lock_guard<std::mutex> hold(lock_);
    ram_.Read(address, bytes.data(), length);
    return bytes;
}

void BoardCore::WriteRam(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    ram_.Write(address, bytes.data(), bytes.size());
}

std::vector<uint8_t> BoardCore::ReadFlash(uint64_t offset, uint64_t length) const
{
    std::vector<uint8_t> bytes(length);
    std::lock_guard<std::mutex> hold(lock_);
    if (!flash_.Read(offset, bytes.data(), length))
        bytes.clear();
    return bytes;
}

std::vector<CommandRecord> BoardCore::Commands() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

std::vector<TransferRecord> BoardCore::Transfers() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return transfers_;
}

WireStats BoardCore::Stats() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return stats_;
}

std::vector<std::string> BoardCore::Messages() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
}

std::vector<FesRun> BoardCore::FesRuns() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return fes_runs_;
}

} // namespace simdev
