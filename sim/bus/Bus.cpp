// The public face of the simulated device: Bus and Board forward to their
// cores.
#include "BusCore.h"

namespace simdev {

Bus::Bus(BusOptions options)
    : core_(std::make_shared<BusCore>(std::move(options)))
{
    core_->Start();
}

Bus::~Bus()
{
    core_->Stop();
}

bool Bus::Ok() const
{
    return core_->Ok();
}

std::string Bus::Error() const
{
    return core_->Error();
}

std::shared_ptr<Board> Bus::Plug(BoardOptions options)
{
    auto core = core_->Plug(std::move(options));
    return core ? std::make_shared<Board>(core) : nullptr;
}

void Bus::Unplug(Board& board)
{
    core_->Unplug(board.Core());
}

void Bus::EmitNoise()
{
    core_->EmitNoise();
}

std::vector<Uevent> Bus::Events() const
{
    return core_->Events();
}

bool Bus::Drain(std::chrono::milliseconds timeout) const
{
    return core_->Drain(timeout);
}

bool Bus::WaitAllRead(std::chrono::milliseconds timeout) const
{
    return core_->WaitAllRead(timeout);
}

bool Bus::WaitForListener(std::chrono::milliseconds timeout) const
{
    return core_->WaitForListener(timeout);
}

Board::Board(std::shared_ptr<BoardCore> core)
    : core_(std::move(core))
{
}

Stage Board::CurrentStage() const
{
    return core_->CurrentStage();
}

bool Board::OnBus() const
{
    return core_->CurrentLife() == BoardCore::Life::OnBus;
}

std::string Board::NodePath() const
{
    return core_->NodePath();
}

std::vector<std::string> Board::NodeHistory() const
{
    return core_->NodeHistory();
}

bool Board::WaitForStage(Stage stage, std::chrono::milliseconds timeout) const
{
    return core_->WaitForLife(timeout, [stage](BoardCore::Life life, Stage now) {
        return life == BoardCore::Life::OnBus && now == stage;
    });
}

bool Board::WaitOffBus(std::chrono::milliseconds timeout) const
{
    return core_->WaitForLife(
        timeout, [](BoardCore::Life life, Stage) { return life != BoardCore::Life::OnBus; });
}

bool Board::Gone() const
{
    return core_->CurrentLife() == BoardCore::Life::Gone;
}

bool Board::WaitGone(std::chrono::milliseconds timeout) const
{
    return core_->WaitForLife(
        timeout, [](BoardCore::Life life, Stage) { return life == BoardCore::Life::Gone; });
}

std::vector<uint8_t> Board::PrivateData() const
{
    return core_->PrivateData();
}

bool Board::SetPrivateData(const std::vector<uint8_t>& bytes)
{
    return core_->SetPrivateData(bytes);
}

std::vector<uint8_t> Board::ReadRam(uint32_t address, uint32_t length) const
{
    return core_->ReadRam(address, length);
}

void Board::WriteRam(uint32_t address, const std::vector<uint8_t>& bytes)
{
    core_->WriteRam(address, bytes);
}

uint64_t Board::FlashSize() const
{
    return core_->FlashSize();
}

std::string Board::FlashPath() const
{
    return core_->FlashPath();
}

std::vector<uint8_t> Board::ReadFlash(uint64_t offset, uint64_t length) const
{
    return core_->ReadFlash(offset, length);
}

std::vector<CommandRecord> Board::Commands() const
{
    return core_->Commands();
}

std::vector<TransferRecord> Board::Transfers() const
{
    return core_->Transfers();
}

WireStats Board::Stats() const
{
    return core_->Stats();
}

std::vector<std::string> Board::Messages() const
{
    return core_->Messages();
}

std::vector<FesRun> Board::FesRuns() const
{
    return core_->FesRuns();
}

} // namespace simdev
