// Malformed or misplaced traffic gets what a strict device gives: a failed
// status or a failed driver request, and the board stays usable.
#include "SimSupport.h"

#include <cstring>
#include <memory>

namespace {

class Wire : public testing::Test {
protected:
    void SetUp() override
    {
        board = bus.Plug();
        ASSERT_TRUE(board);
        host = std::make_unique<Host>(board->NodePath());
        ASSERT_TRUE(host->Open());
    }

    // The board still answers a plain verify.
    void ExpectHealthy()
    {
        std::vector<uint8_t> record;
        EXPECT_EQ(host->Verify(record), 0);
    }

    simdev::Bus bus;
    std::shared_ptr<simdev::Board> board;
    std::unique_ptr<Host> host;
};

TEST_F(Wire, RequestBlockWithBadMagicOrLengthsIsStalled)
{
    uint8_t request[32] = {'Q', 'X', 'U', 'X'};
    request[15] = 12;
    request[16] = 0x12;
    unsigned count = 0;
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 32, count), 200); // EPIPE
    std::memcpy(request, "QXUC", 4);
    request[8] = 16;  // data length 16 ...
    request[18] = 17; // ... and 17 in its second copy
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 32, count), 200);
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 31, count), 200);
    request[18] = 16;
    request[16] = 0x13; // neither read nor write
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 32, count), 200);
    request[16] = 0x12;
    request[15] = 16; // command length other than 12
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 32, count), 200);
    request[15] = 12;
    request[11] = request[21] = 0x10; // a 256 MiB data phase: more than the board buffers
    EXPECT_EQ(Fex().Fex_Send(host->handle(), request, 32, count), 200);
    ExpectHealthy();
    EXPECT_EQ(board->Stats().refused, 6u);
}

TEST_F(Wire, ReadWithNothingPendingTimesOutAndWrongOrderStalls)
{
    uint8_t buffer[13];
    unsigned count = 0;
    EXPECT_EQ(Fex().Fex_Recv(host->handle(), buffer, 13, count), 272);
    // A block of zeros is a command no board knows; the host giving up on it
    // and sending the next command is fine.
    uint8_t data[16] = {};
    EXPECT_EQ(Fex().Fex_transmit_receive(host->handle(), data, 16, 0x12), 0);
    ExpectHealthy();
    EXPECT_EQ(board->Commands().front().result, 0xFF); // never read its status
}

TEST_F(Wire, CommandsOfTheOtherStageOrUnknownCodesFailTheirStatus)
{
    uint8_t data[16] = {};
    EXPECT_EQ(host->FesTrans(0x00, 0, 0x10, data, 16), 659);
    EXPECT_EQ(host->Command(Block(0x0002), nullptr, 0), 659);
    EXPECT_EQ(host->Command(Block(0x0010), nullptr, 0), 659);
    ExpectHealthy();
    const auto commands = board->Commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].code, cmd::kFesTrans);
    EXPECT_EQ(commands[0].result, 1);
    EXPECT_EQ(commands[3].result, 0);
}

TEST_F(Wire, RunOfAnythingButAValidSecondStageIsRefused)
{
    EXPECT_EQ(host->FelRun(0x1000), 659); // nothing there
    auto stage = simdev::MakeSecondStage(std::vector<uint8_t>(100, 0xAB));
    stage[40] ^= 1; // checksum no longer matches
    ASSERT_EQ(host->FelDown(0x2000, stage), 0);
    EXPECT_EQ(host->FelRun(0x2000), 659);
    stage[40] ^= 1;
    stage[3] = 'X'; // magic
    ASSERT_EQ(host->FelDown(0x3000, stage), 0);
    EXPECT_EQ(host->FelRun(0x3000), 659);
    EXPECT_TRUE(board->OnBus());
    EXPECT_EQ(board->CurrentStage(), simdev::Stage::Fel);
    const auto messages = board->Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[1].find("checksum mismatch"), std::string::npos);
    ExpectHealthy();
}

TEST_F(Wire, MissingDataPhaseFailsTheCommandAndMismatchedPhaseFailsTheTransfer)
{
    // FEL_DOWN announcing 64 bytes, then the status read straight away.
    EXPECT_EQ(host->Command(Block(cmd::kFelDown, 0x100, 64), nullptr, 0), 659);
    // FEL_UP announcing 64 bytes, host reads 32: the data transfer fails.
    uint8_t data[64];
    EXPECT_EQ(host->Command(Block(cmd::kFelUp, 0x100, 64), data, 32), 364);
    ExpectHealthy();
}

TEST_F(Wire, FesTransWithoutDirectionReturnsAfterTheBlockAndTheNextCommandWorks)
{
    BringToFes(*board);
    Host fes(board->NodePath());
    uint8_t data[16] = {};
    EXPECT_EQ(fes.FesTrans(0x00, 0, 0x30, data, 16), 0); // the transport stops after the block
    std::vector<uint8_t> record;
    EXPECT_EQ(fes.Verify(record), 0);
    EXPECT_EQ(board->Commands().back().code, cmd::kVerify);
}

TEST_F(Wire, WireStatsCountEveryLevel)
{
    std::vector<uint8_t> record;
    ASSERT_EQ(host->Verify(record), 0);
    const auto stats = board->Stats();
    EXPECT_EQ(stats.commands, 1u);
    EXPECT_EQ(stats.transfers, 3u);
    EXPECT_EQ(stats.requests, 9u); // block, data, reply for each transfer
    EXPECT_EQ(stats.bytes_to_board, 16u);
    EXPECT_EQ(stats.bytes_to_host, 40u);
}

TEST(VerifyOverride, AnswersTheGivenLengthLog2WhileTheAreaKeepsItsSize)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.verify_data_length_log2_override = 40;
    auto board = bus.Plug(options);
    ASSERT_TRUE(board);
    Host host(board->NodePath());
    ASSERT_TRUE(host.Open());
    std::vector<uint8_t> record;
    ASSERT_EQ(host.Verify(record), 0);
    EXPECT_EQ(std::memcmp(record.data(), "QXUSBFEX", 8), 0);
    EXPECT_EQ(record[16] | record[17] << 8, 1);
    EXPECT_EQ(record[19], 40);
    EXPECT_EQ(Le32(record.data() + 20), 0x0007E000u);
    std::vector<uint8_t> id(4);
    ASSERT_EQ(host.FelUp(0x0007E000, id), 0);
    EXPECT_EQ(Le32(id.data()), 0xCCCCCCCCu);
    EXPECT_EQ(board->PrivateData().size(), 256u);
}

} // namespace

namespace {

TEST(BadInput, ImpossibleBoardsAreRefusedWithAReason)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.data_length_log2 = 25;
    EXPECT_FALSE(bus.Plug(options));
    EXPECT_NE(bus.Error().find("private data"), std::string::npos) << bus.Error();
    options = {};
    options.private_data.assign(257, 1);
    EXPECT_FALSE(bus.Plug(options));
    options = {};
    options.flash_dir = "/nonexistent/folder";
    EXPECT_FALSE(bus.Plug(options));
    EXPECT_NE(bus.Error().find("/nonexistent/folder"), std::string::npos) << bus.Error();

    auto board = bus.Plug(); // the bus itself is fine
    ASSERT_TRUE(board);
    EXPECT_FALSE(board->SetPrivateData(std::vector<uint8_t>(257, 1)));
    EXPECT_EQ(Le32(board->PrivateData().data()), 0xCCCCCCCCu); // untouched
    EXPECT_TRUE(board->ReadFlash(board->FlashSize() - 1, 2).empty());
}

TEST(BadInput, UeventParsingIsBoundedByTheLengthReceived)
{
    simdev::Uevent event;
    EXPECT_FALSE(simdev::ParseUevent("no header here", 14, event));
    EXPECT_FALSE(simdev::ParseUevent("@/devices/x", 11, event));
    // No terminating NUL: the last key still ends at the received length.
    const char datagram[]
        = {'a', 'd', 'd', '@', '/', 'x', '\0', 'A', '=', '1', '\0', 'B', '=', '2'};
    ASSERT_TRUE(simdev::ParseUevent(datagram, sizeof datagram, event));
    EXPECT_EQ(event.action, "add");
    EXPECT_EQ(event.devpath, "/x");
    EXPECT_EQ(event.Get("A"), "1");
    EXPECT_EQ(event.Get("B"), "2");
    EXPECT_EQ(event.Get("C"), "");
}

} // namespace
