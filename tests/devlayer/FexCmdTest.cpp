// The FEX command set on the wire: blocks, chunks, marks and refusals, as the
// simulated board received them.
#include "CaptureOutput.h"
#include "DevLayer.h"
#include "FexDevice/dev_manager.h"

#include <cstring>

namespace {

using simdev::CommandRecord;
using simdev::Stage;

constexpr uint32_t kRam = 0x00400000;

class FexCmd : public BoardTest {
protected:
    void OpenFesHandle()
    {
        ASSERT_NO_FATAL_FAILURE(BringToFes());
        raw = std::make_unique<RawHandle>(Node());
    }
    std::unique_ptr<RawHandle> raw;
};

TEST_F(FexCmd, VerifyInFelAndInFes)
{
    tag_VERIFY_DEV_DATA verify;
    {
        RawHandle fel(Node());
        memset(&verify, 0xAB, sizeof verify);
        ASSERT_EQ(PLG(cmd_common_verify_dev)(fel.get(), &fex, &verify), 0);
    }
    EXPECT_EQ(memcmp(verify.magic, "QXUSBFEX", 8), 0);
    EXPECT_EQ(verify.stage_mode, 1);
    EXPECT_EQ(verify.data_length_log2, 8);
    EXPECT_EQ(verify.data_start_address, 0x0007E000u);

    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    ASSERT_EQ(PLG(cmd_common_verify_dev)(raw->get(), &fex, &verify), 0);
    EXPECT_EQ(verify.stage_mode, 2);
    auto last = board->Commands().back();
    EXPECT_EQ(last.stage, Stage::Fes);
    EXPECT_EQ(last.code, CMD_COMMON_VERIFY_DEV);
    EXPECT_EQ(last.data_length, 32u);
    EXPECT_TRUE(last.data_in);
}

TEST_F(FexCmd, VerifyFailsOnAWrongMagic)
{
    auto options = FastOptions();
    options.faults.push_back({simdev::Fault::BadVerifyMagic, 1, {}, 5});
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    RawHandle fel(Node());
    tag_VERIFY_DEV_DATA verify;
    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_common_verify_dev)(fel.get(), &fex, &verify), -1);
    EXPECT_NE(err.Text().find("cmd_common_verify_dev "), std::string::npos);
    EXPECT_EQ(PLG(cmd_common_verify_dev)(nullptr, &fex, &verify), -1);
}

TEST_F(FexCmd, VerifyChecksTheMagicEvenWhenTheTransportDoesNot)
{
    // A transport that passes any verify reply: the board's answer, with its
    // magic spoilt after the command succeeded.
    tag_EFEX_IF table = Fex();
    table.Fex_command = [](void** handle, void* command, unsigned char* buffer, unsigned length) {
        int ret = Fex().Fex_command(handle, command, buffer, length);
        if (ret == 0 && buffer != nullptr && length >= 8)
            memcpy(buffer, "QXUSBBAD", 8);
        return ret;
    };
    RawHandle fel(Node());
    tag_VERIFY_DEV_DATA verify;
    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_common_verify_dev)(fel.get(), &table, &verify), -1);
    EXPECT_EQ(
        err.Text().rfind("./FexDevice/stage/stage_buffer: CMD_COMMON_VERIFY_DEV_MAGIC error ", 0),
        0u);
    EXPECT_EQ(CommandCount(), 1u);
}

TEST_F(FexCmd, FelDownOfTheLimitIsOneCommandAndOneMoreByteIsRefused)
{
    RawHandle fel(Node());
    auto data = Pattern(32769, 1);
    EXPECT_EQ(PLG(cmd_fel_down)(&fex, fel.get(), data.data(), DeviceAddr(kRam), 32768), 32768);
    auto sent = board->Commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, CMD_FEL_DOWN);
    EXPECT_EQ(BlockU32(sent[0], 4), kRam);
    EXPECT_EQ(BlockU32(sent[0], 8), 32768u);
    EXPECT_EQ(sent[0].data_length, 32768u);
    EXPECT_FALSE(sent[0].data_in);
    EXPECT_EQ(
        board->ReadRam(kRam, 32768), std::vector<uint8_t>(data.begin(), data.begin() + 32768));

    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(cmd_fel_down)(&fex, fel.get(), data.data(), DeviceAddr(kRam), 32769), -1);
    EXPECT_EQ(out.Text(), "PANIC : cmd_fel_down() : too for once trans\n");
    EXPECT_EQ(CommandCount(), 1u);
}

TEST_F(FexCmd, FelUpReadsDeviceMemoryAndNeedsAHostBuffer)
{
    auto data = Pattern(5000, 2);
    board->WriteRam(kRam, data);
    RawHandle fel(Node());
    std::vector<uint8_t> back(5000);
    EXPECT_EQ(PLG(cmd_fel_up)(&fex, fel.get(), DeviceAddr(kRam), back.data(), 5000), 5000);
    EXPECT_EQ(back, data);
    auto sent = board->Commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, CMD_FEL_UP);
    EXPECT_TRUE(sent[0].data_in);

    // Device addresses keep the low 32 bits of the pointer they come in.
    auto wide = reinterpret_cast<unsigned char*>(uintptr_t(0x100000000ull) | kRam);
    std::vector<uint8_t> again(16);
    EXPECT_EQ(PLG(cmd_fel_up)(&fex, fel.get(), wide, again.data(), 16), 16);
    EXPECT_EQ(BlockU32(board->Commands().back(), 4), kRam);
    EXPECT_EQ(again, std::vector<uint8_t>(data.begin(), data.begin() + 16));

    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(cmd_fel_up)(&fex, fel.get(), DeviceAddr(kRam), nullptr, 5000), -1);
    EXPECT_EQ(PLG(cmd_fel_up)(&fex, fel.get(), DeviceAddr(kRam), back.data(), 0), -1);
    EXPECT_EQ(PLG(_cmd_fel_trans_once)(&fex, fel.get(), DeviceAddr(kRam), nullptr, 16, 0), -1);
    std::string text = out.Text();
    EXPECT_NE(text.find("PANIC : cmd_fel_down() : input == NULL\n"
                        "PANIC : efex_interf = "),
        std::string::npos);
    EXPECT_NE(text.find("PANIC : _cmd_fel_down() : input == NULL\n"), std::string::npos);
    EXPECT_EQ(CommandCount(), 2u);
}

TEST_F(FexCmd, FelRunRefusesAddressZeroAndNeedsExactlyTheFelHandle)
{
    StageRecords records(Node());
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(cmd_fel_run)(&records.para, 0), -1);
    EXPECT_EQ(PLG(cmd_fel_run)(&records.para, kRam), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : cmd_fel_run() : input == NULL\n"
        "PANIC : cmd_fel_run() : error dev handle\n");
    EXPECT_EQ(CommandCount(), 0u);
}

TEST_F(FexCmd, IsReadyAndCommandSetVersionRunOnTheOneOpenDevice)
{
    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    tag_IS_READY_DATA ready;
    EXPECT_EQ(PLG(cmd_common_is_ready)(&records.para, &ready), 0);
    tag_GET_CMD_SET_VER_DATA version;
    EXPECT_EQ(PLG(cmd_common_get_cmd_set_vers)(&records.para, &version), 0);
    auto sent = board->Commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].code, CMD_COMMON_IS_READY);
    EXPECT_EQ(sent[0].data_length, 20u);
    EXPECT_EQ(sent[1].code, CMD_COMMON_GET_CMD_SET_VER);
    EXPECT_EQ(sent[1].data_length, 16u);

    // Both kinds open: refused before anything is sent.
    ASSERT_EQ(PLG(dev_manager_open_fes_dev)(&records.para), 0);
    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_common_is_ready)(&records.para, &ready), -1);
    EXPECT_EQ(err.Text(), "PANIC : cmd_common_is_ready() : fel fes dev all opened,fail\n");
    EXPECT_EQ(CommandCount(), 2u);
    fex.Fex_Close(&records.priv.fes_dev_handle);
    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);

    // None open.
    CaptureOutput none(stderr);
    EXPECT_EQ(PLG(cmd_common_get_cmd_set_vers)(&records.para, &version), -1);
    EXPECT_EQ(none.Text(), "PANIC : cmd_common_get_cmd_set_vers() : no opened dev\n");
}

TEST_F(FexCmd, IsReadyOnTheFesHandle)
{
    ASSERT_NO_FATAL_FAILURE(BringToFes());
    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fes_dev)(&records.para), 0);
    size_t before = CommandCount();
    tag_IS_READY_DATA ready;
    EXPECT_EQ(PLG(cmd_common_is_ready)(&records.para, &ready), 0);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].stage, Stage::Fes);
    EXPECT_EQ(sent[0].code, CMD_COMMON_IS_READY);
    EXPECT_EQ(sent[0].data_length, 20u);
    EXPECT_EQ(PLG(dev_manager_close_fes_dev)(&records.para), 0);
}

// Chunk addresses and lengths of a FES transfer as the board received them.
struct Chunk {
    uint32_t address;
    uint32_t length;
    uint8_t flags;
};

std::vector<Chunk> FesChunks(const std::vector<CommandRecord>& sent)
{
    std::vector<Chunk> chunks;
    for (const auto& record : sent) {
        EXPECT_EQ(record.code, CMD_FES_TRANS);
        chunks.push_back({BlockU32(record, 4), BlockU32(record, 8), record.block[13]});
    }
    return chunks;
}

TEST_F(FexCmd, FesDownSplitsIntoChunksAtTheRunningAddresses)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    auto data = Pattern(70000, 3);
    size_t before = CommandCount();
    EXPECT_EQ(
        PLG(cmd_fes_down)(&fex, raw->ref(), data.data(), DeviceAddr(kRam), 70000, 0, 0, 0), 0);
    auto chunks = FesChunks(CommandsSince(*board, before));
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].address, kRam);
    EXPECT_EQ(chunks[1].address, kRam + 32768);
    EXPECT_EQ(chunks[2].address, kRam + 65536);
    EXPECT_EQ(chunks[0].length, 32768u);
    EXPECT_EQ(chunks[1].length, 32768u);
    EXPECT_EQ(chunks[2].length, 4464u);
    for (const auto& chunk : chunks)
        EXPECT_EQ(chunk.flags, 0x10);
    EXPECT_EQ(board->ReadRam(kRam, 70000), data);
}

TEST_F(FexCmd, FesUpReadsTheSameRangesIntoTheMatchingHostPositions)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    auto data = Pattern(70000, 4);
    board->WriteRam(kRam, data);
    std::vector<uint8_t> back(70000);
    size_t before = CommandCount();
    EXPECT_EQ(PLG(cmd_fes_up)(&fex, raw->ref(), DeviceAddr(kRam), back.data(), 70000, 0, 0, 0), 0);
    EXPECT_EQ(back, data);
    auto sent = CommandsSince(*board, before);
    auto chunks = FesChunks(sent);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2].address, kRam + 65536);
    EXPECT_EQ(chunks[2].length, 4464u);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(chunks[i].flags, 0x20);
        EXPECT_TRUE(sent[i].data_in);
    }
}

TEST_F(FexCmd, FesMarksFollowTheMarkMode)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    auto data = Pattern(70000, 5);
    auto flagsOf = [&](unsigned len, unsigned char mode, unsigned char high, unsigned char low) {
        size_t before = CommandCount();
        EXPECT_EQ(PLG(cmd_fes_down)(
                      &fex, raw->ref(), data.data(), DeviceAddr(kRam), len, high, low, mode),
            0);
        std::vector<uint8_t> flags;
        for (const auto& record : CommandsSince(*board, before))
            flags.push_back(record.block[13]);
        return flags;
    };
    EXPECT_EQ(flagsOf(70000, 1, 0, 0), (std::vector<uint8_t> {0x50, 0x10, 0x10}));
    EXPECT_EQ(flagsOf(65536, 2, 0, 0), (std::vector<uint8_t> {0x10, 0x90}));
    EXPECT_EQ(flagsOf(70000, 2, 0, 0), (std::vector<uint8_t> {0x10, 0x90, 0x90}));
    EXPECT_EQ(flagsOf(70000, 0, 0, 0), (std::vector<uint8_t> {0x10, 0x10, 0x10}));
    EXPECT_EQ(flagsOf(100, 3, 0, 0), (std::vector<uint8_t> {0x10}));

    // Selector nibbles: flash (high 1) at offset low * 2^32 + address; the
    // upper bits of each argument are dropped.
    size_t before = CommandCount();
    EXPECT_EQ(
        PLG(cmd_fes_down)(&fex, raw->ref(), data.data(), DeviceAddr(0x1000), 4096, 0x71, 0xF0, 3),
        0);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].block[12], 0x10);
    EXPECT_EQ(
        board->ReadFlash(0x1000, 4096), std::vector<uint8_t>(data.begin(), data.begin() + 4096));
}

TEST_F(FexCmd, FesTransferRefusalsSendNothing)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    std::vector<uint8_t> buf(64);
    size_t before = CommandCount();
    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_fes_down)(&fex, raw->ref(), buf.data(), DeviceAddr(kRam), 0, 0, 0, 0), 0);
    EXPECT_EQ(PLG(cmd_fes_down)(&fex, nullptr, buf.data(), DeviceAddr(kRam), 64, 0, 0, 0), -1);
    EXPECT_EQ(PLG(cmd_fes_up)(&fex, raw->ref(), DeviceAddr(kRam), nullptr, 64, 0, 0, 0), -1);
    EXPECT_EQ(
        PLG(cmd_fes_down)(&fex, raw->ref(), buf.data(), DeviceAddr(kRam), 0x80000000u, 0, 0, 0),
        -1);
    EXPECT_EQ(err.Text(),
        "PANIC : cmd_fes_down() : data len == 0\n"
        "PANIC : cmd_fes_down() : input == NULL\n"
        "PANIC : cmd_fes_down() : input == NULL\n"
        "PANIC : cmd_fes_down() : data len too big\n");
    EXPECT_EQ(CommandCount(), before);
}

TEST_F(FexCmd, FesTransferFailingMidwayKeepsTheEarlierChunksAndStops)
{
    auto options = FastOptions();
    options.faults.push_back({simdev::Fault::FexStatusFail, 2, Stage::Fes});
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    const std::vector<uint8_t> before_ram = board->ReadRam(kRam, 70000);
    auto data = Pattern(70000, 6);
    size_t before = CommandCount();
    CaptureOutput err(stderr);
    EXPECT_EQ(
        PLG(cmd_fes_down)(&fex, raw->ref(), data.data(), DeviceAddr(kRam), 70000, 0, 0, 0), -1);
    EXPECT_NE(err.Text().find("PANIC : cmd_fes_down() : run fail \n"), std::string::npos);
    auto chunks = FesChunks(CommandsSince(*board, before));
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].address, kRam + 32768);
    EXPECT_EQ(
        board->ReadRam(kRam, 32768), std::vector<uint8_t>(data.begin(), data.begin() + 32768));
    EXPECT_EQ(board->ReadRam(kRam + 32768, 70000 - 32768),
        std::vector<uint8_t>(before_ram.begin() + 32768, before_ram.end()));
}

TEST_F(FexCmd, FesRunCarriesAddressRunByteAndParameters)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    unsigned char params[3] = {1, 2, 3};
    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_fes_run)(&fex, raw->ref(), kRam, 0x15, 0, params, 0), -1);
    EXPECT_EQ(err.Text(), "PANIC : cmd_fes_run() : input == NULL\n");
    EXPECT_TRUE(board->FesRuns().empty());

    EXPECT_EQ(PLG(cmd_fes_run)(&fex, raw->ref(), kRam, 0x15, 2, params, 3), 0);
    auto runs = board->FesRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].address, kRam);
    EXPECT_EQ(runs[0].run_byte, 0x50);
    EXPECT_EQ(runs[0].params, (std::vector<uint8_t> {1, 2, 3}));
}

TEST_F(FexCmd, FesInfoReadsAtMost32Bytes)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    tag_INFO_DATA info;
    memset(&info, 0xEE, sizeof info);
    size_t before = CommandCount();
    EXPECT_EQ(PLG(cmd_fes_info)(&fex, raw->ref(), &info, 16), 0);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, CMD_FES_INFO);
    EXPECT_EQ(sent[0].block[4], 0);
    EXPECT_EQ(sent[0].data_length, 16u);
    for (size_t i = 16; i < sizeof info.data; ++i)
        EXPECT_EQ(info.data[i], 0) << i;

    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_fes_info)(&fex, raw->ref(), &info, 33), -1);
    EXPECT_EQ(err.Text(), "PANIC : cmd_fes_info() : info len too big\n");
    EXPECT_EQ(CommandCount(), before + 1);
}

TEST_F(FexCmd, FesGetMsgReadsAndReports1024Bytes)
{
    ASSERT_NO_FATAL_FAILURE(OpenFesHandle());
    std::vector<unsigned char> buf(FES_MSG_LENGTH);
    unsigned got = 7;
    size_t before = CommandCount();
    EXPECT_EQ(PLG(cmd_fes_get_msg)(&fex, raw->ref(), buf.data(), &got), 0);
    EXPECT_EQ(got, 1024u);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, CMD_FES_GET_MSG);
    EXPECT_EQ(BlockU32(sent[0], 4), 1024u);
    EXPECT_EQ(sent[0].data_length, 1024u);

    CaptureOutput err(stderr);
    EXPECT_EQ(PLG(cmd_fes_get_msg)(&fex, raw->ref(), buf.data(), nullptr), -1);
    EXPECT_EQ(err.Text(), "PANIC : cmd_fes_get_msg() : input == NULL\n");
}

} // namespace
