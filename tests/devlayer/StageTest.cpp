// Stage and private data of a node, through the exported free functions and
// through KoraFexDevice, against boards of the simulated device.
#include "CaptureOutput.h"
#include "DevLayer.h"
#include "FexDevice/KoraFexDevice.h"
#include "FexDevice/stage/stage_buffer.h"

#include <cstring>
#include <filesystem>

namespace {

using simdev::CommandRecord;

bool AnyTransfer(const std::vector<CommandRecord>& sent)
{
    for (const auto& record : sent)
        if (record.code != CMD_COMMON_VERIFY_DEV)
            return true;
    return false;
}

std::vector<uint8_t> FreshPrivateData(size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    memset(bytes.data(), 0xCC, 4);
    return bytes;
}

// Descriptors the process holds: a node left open by a cycle shows here.
size_t OpenDescriptors()
{
    size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
         it != std::filesystem::directory_iterator(); ++it)
        ++count;
    return count;
}

using StageBuffer = BoardTest;

TEST_F(StageBuffer, FelAndFesGiveTheirStageCodes)
{
    unsigned stage = 0;
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 0);
    EXPECT_EQ(stage, DEVICE_STAGE_FEL);
    ASSERT_NO_FATAL_FAILURE(BringToFes());
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 0);
    EXPECT_EQ(stage, DEVICE_STAGE_FES);
    EXPECT_EQ(DEVICE_STAGE_FEL, 225u);
    EXPECT_EQ(DEVICE_STAGE_FES, 226u);
}

TEST_F(StageBuffer, UnknownModeGives153AndLeavesTheStage)
{
    auto options = FastOptions();
    options.stage_mode_override = 3;
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    unsigned stage = 77;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 153);
    EXPECT_EQ(out.Text(), "PANIC : GetCurrentStage() : get errer stage 3\n");
    EXPECT_EQ(stage, 77u);
}

TEST_F(StageBuffer, FailuresOfGetCurrentStage)
{
    unsigned stage = 77;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(GetCurrentStage)(nullptr, Node().c_str(), &stage), 127);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, nullptr, &stage), 127);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), nullptr), 127);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, kMissingNode, &stage), 134);
    std::string text = out.Text();
    EXPECT_NE(text.find("PANIC : GetCurrentStage() : input == NULL\n"), std::string::npos);
    EXPECT_NE(text.find("\ndev_manager_open_raw_dev failed 281 ./FexDevice/stage/stage_buffer\n"),
        std::string::npos);
    EXPECT_EQ(stage, 77u);
    EXPECT_EQ(CommandCount(), 0u);
}

TEST_F(StageBuffer, WrongVerifyMagicGives141AndMinusOne)
{
    auto options = FastOptions();
    options.faults.push_back({simdev::Fault::BadVerifyMagic, 1, {}, 5});
    options.faults.push_back({simdev::Fault::BadVerifyMagic, 2, {}, 5});
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    unsigned stage = 77;
    std::vector<uint8_t> buf(256);
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 141);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    std::string text = out.Text();
    EXPECT_NE(
        text.find("PANIC : GetCurrentStage() : run verify dev cmd ,fail\n"), std::string::npos);
    EXPECT_NE(
        text.find("PANIC : GetFelPrivateData() : run verify dev cmd ,fail\n"), std::string::npos);
    EXPECT_FALSE(AnyTransfer(board->Commands()));
}

// A transport whose close reports failure after closing: the only way a
// close after a good answer can fail.
tag_EFEX_IF CloseFailsTable()
{
    tag_EFEX_IF table = Fex();
    table.Fex_Close = [](void** handle) {
        Fex().Fex_Close(handle);
        return 102;
    };
    return table;
}

TEST_F(StageBuffer, CloseFailureAfterAGoodAnswerGives160WithTheStageWritten)
{
    tag_EFEX_IF table = CloseFailsTable();
    unsigned stage = 0;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(GetCurrentStage)(&table, Node().c_str(), &stage), 160);
    EXPECT_EQ(stage, DEVICE_STAGE_FEL);
    std::vector<uint8_t> buf(256);
    EXPECT_EQ(PLG(GetFelPrivateData)(&table, Node().c_str(), buf.data(), 256), -1);
    std::string text = out.Text();
    EXPECT_NE(text.find("PANIC : GetFelPrivateData() : close raw dev fail\n"), std::string::npos);
}

TEST_F(StageBuffer, FelPrivateDataReadsAndWritesTheArea)
{
    std::vector<uint8_t> buf(256, 0x11);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), 0);
    EXPECT_EQ(buf, FreshPrivateData(256));

    auto data = Pattern(256, 9);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), data.data(), 256), 0);
    EXPECT_EQ(board->PrivateData(), data);
    auto sent = board->Commands();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].code, CMD_FEL_DOWN);
    EXPECT_EQ(BlockU32(sent[3], 4), 0x0007E000u);
    EXPECT_EQ(BlockU32(sent[3], 8), 256u);
}

TEST_F(StageBuffer, WriteSizeIsCheckedAgainstTheAreaBeforeAnyTransfer)
{
    std::vector<uint8_t> big = Pattern(257, 10);
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), big.data(), 257), -1);
    EXPECT_EQ(out.Text(), "PANIC : SetFelPrivateData() : down pyrra_priv_data too big,fail\n");
    EXPECT_FALSE(AnyTransfer(board->Commands()));
    EXPECT_EQ(board->PrivateData(), FreshPrivateData(256));

    auto options = FastOptions();
    options.data_length_log2 = 7;
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    std::vector<uint8_t> block = Pattern(256, 11);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), block.data(), 256), -1);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), block.data(), 128), 0);
    EXPECT_EQ(board->PrivateData(), std::vector<uint8_t>(block.begin(), block.begin() + 128));
}

TEST_F(StageBuffer, AnAreaOf2To32BytesOrMoreRefusesTheWriteBeforeAnyTransfer)
{
    for (uint8_t log2 : {32, 40, 255}) {
        SCOPED_TRACE(int(log2));
        auto options = FastOptions();
        options.verify_data_length_log2_override = log2;
        ASSERT_NO_FATAL_FAILURE(Replug(options));
        auto data = Pattern(256, 14);
        CaptureOutput out(stdout);
        EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), data.data(), 256), -1);
        EXPECT_EQ(PLG(SetFesPrivateData)(&fex, Node().c_str(), data.data(), 1), -1);
        const std::string n = std::to_string(log2);
        EXPECT_EQ(out.Text(),
            "PANIC : SetFelPrivateData() : bad data_length_log2 " + n
                + ",fail\n"
                  "PANIC : SetFesPrivateData() : bad data_length_log2 "
                + n + ",fail\n");
        auto sent = board->Commands();
        EXPECT_EQ(sent.size(), 2u);
        EXPECT_FALSE(AnyTransfer(sent));
        EXPECT_EQ(board->PrivateData(), FreshPrivateData(256));

        // Reads do not size the area.
        std::vector<uint8_t> buf(256);
        EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), 0);
    }

    // 31 still names an area a 32-bit device can hold.
    auto options = FastOptions();
    options.verify_data_length_log2_override = 31;
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    auto data = Pattern(256, 15);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), data.data(), 256), 0);
    EXPECT_EQ(board->PrivateData(), data);
}

TEST_F(StageBuffer, FailedTransfersAreLoggedAndNothingIsWritten)
{
    auto options = FastOptions();
    // Verify is the first command of each cycle, the transfer the second.
    for (uint64_t at : {2, 4})
        for (simdev::Stage stage : {simdev::Stage::Fel, simdev::Stage::Fes})
            options.faults.push_back({simdev::Fault::FexStatusFail, at, stage});
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    std::vector<uint8_t> buf(256);
    auto data = Pattern(256, 16);

    CaptureOutput fel(stdout);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), data.data(), 256), -1);
    std::string text = fel.Text();
    EXPECT_NE(text.find("PANIC : GetFelPrivateData() : run fel_up cmd ,fail\n"), std::string::npos);
    EXPECT_NE(
        text.find("PANIC : SetFelPrivateData() : run fel_down cmd ,fail\n"), std::string::npos);
    EXPECT_EQ(board->PrivateData(), FreshPrivateData(256));

    ASSERT_NO_FATAL_FAILURE(BringToFes());
    CaptureOutput fes(stdout);
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(PLG(SetFesPrivateData)(&fex, Node().c_str(), data.data(), 256), -1);
    text = fes.Text();
    EXPECT_NE(text.find("PANIC : GetFesPrivateData() : run fes_up cmd ,fail\n"), std::string::npos);
    EXPECT_NE(
        text.find("PANIC : SetFesPrivateData() : run fes_down cmd ,fail\n"), std::string::npos);
    EXPECT_EQ(board->PrivateData(), FreshPrivateData(256));
}

TEST_F(StageBuffer, EveryCycleClosesItsNodeWhereverItEnds)
{
    auto options = FastOptions();
    options.faults.push_back({simdev::Fault::BadVerifyMagic, 1});
    options.faults.push_back({simdev::Fault::BadVerifyMagic, 2});
    options.faults.push_back({simdev::Fault::FexStatusFail, 4});
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    std::vector<uint8_t> buf(512);
    unsigned stage = 0;

    const size_t before = OpenDescriptors();
    // Verify refused (commands 1 and 2), then the transfer (4) after a good one.
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 141);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    // Too big, wrong mode, and the good ends.
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), buf.data(), 512), -1);
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 0);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), 0);
    EXPECT_EQ(OpenDescriptors(), before);

    options = FastOptions();
    options.stage_mode_override = 3;
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    const size_t odd = OpenDescriptors();
    EXPECT_EQ(PLG(GetCurrentStage)(&fex, Node().c_str(), &stage), 153);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(OpenDescriptors(), odd);
}

TEST_F(StageBuffer, ReadsCheckTheModeWithoutAnyTransfer)
{
    std::vector<uint8_t> buf(256);
    CaptureOutput fel(stdout);
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(fel.Text(), "PANIC : GetFesPrivateData() : current at fel ,can not this cmd\n");
    EXPECT_FALSE(AnyTransfer(board->Commands()));

    ASSERT_NO_FATAL_FAILURE(BringToFes());
    size_t before = CommandCount();
    CaptureOutput fes(stdout);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(fes.Text(), "PANIC : GetFelPrivateData() : current at fes ,can not this cmd\n");
    EXPECT_FALSE(AnyTransfer(CommandsSince(*board, before)));

    auto options = FastOptions();
    options.stage_mode_override = 5;
    ASSERT_NO_FATAL_FAILURE(Replug(options));
    CaptureOutput odd(stdout);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, Node().c_str(), buf.data(), 256), -1);
    EXPECT_EQ(odd.Text(),
        "PANIC : GetFelPrivateData() : get errer stage\n"
        "PANIC : GetFesPrivateData() : get errer stage\n");
    EXPECT_FALSE(AnyTransfer(board->Commands()));
}

TEST_F(StageBuffer, FesPrivateDataSurvivesTheStageChangeAndIsWrittenBack)
{
    auto taken = FreshPrivateData(256);
    memset(taken.data(), 0, 4);
    ASSERT_EQ(PLG(SetFelPrivateData)(&fex, Node().c_str(), taken.data(), 256), 0);
    ASSERT_NO_FATAL_FAILURE(BringToFes());

    std::vector<uint8_t> buf(256, 0x11);
    size_t before = CommandCount();
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, Node().c_str(), buf.data(), 256), 0);
    EXPECT_EQ(buf, taken);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].code, CMD_FES_TRANS);
    EXPECT_EQ(BlockU32(sent[1], 4), 0x0007E000u);
    EXPECT_EQ(sent[1].block[13], 0x20);

    auto data = Pattern(256, 12);
    EXPECT_EQ(PLG(SetFesPrivateData)(&fex, Node().c_str(), data.data(), 256), 0);
    EXPECT_EQ(board->PrivateData(), data);
}

TEST_F(StageBuffer, FelWriteIsAttemptedWhateverTheMode)
{
    ASSERT_NO_FATAL_FAILURE(BringToFes());
    size_t before = CommandCount();
    auto data = Pattern(256, 13);
    PLG(SetFelPrivateData)(&fex, Node().c_str(), data.data(), 256);
    auto sent = CommandsSince(*board, before);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].code, CMD_FEL_DOWN);
}

TEST_F(StageBuffer, PrivateDataOfAnUnopenableNode)
{
    std::vector<uint8_t> buf(256);
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(GetFelPrivateData)(&fex, kMissingNode, buf.data(), 256), -1);
    EXPECT_EQ(PLG(SetFelPrivateData)(&fex, kMissingNode, buf.data(), 256), -1);
    EXPECT_EQ(PLG(GetFesPrivateData)(&fex, kMissingNode, buf.data(), 256), -1);
    EXPECT_EQ(PLG(SetFesPrivateData)(&fex, kMissingNode, buf.data(), 256), -1);
    std::string text = out.Text();
    for (const char* name :
        {"GetFelPrivateData", "SetFelPrivateData", "GetFesPrivateData", "SetFesPrivateData"})
        EXPECT_NE(text.find(std::string("PANIC : ") + name + "() : open raw dev fail\n"),
            std::string::npos)
            << name;
    EXPECT_EQ(CommandCount(), 0u);
}

// KoraFexDevice is a C++ class of the plug-in: its members are reached by
// their symbols, called with the object as first argument.
class FexDeviceObject {
public:
    FexDeviceObject() { Member<void (*)(void*)>("_ZN13KoraFexDeviceC1Ev")(m_storage); }
    ~FexDeviceObject() { Member<void (*)(void*)>("_ZN13KoraFexDeviceD1Ev")(m_storage); }

    int SetInterface(void* table, const char* guid)
    {
        return Member<int (*)(void*, void*, const char*)>("_ZN13KoraFexDevice12SetInterfaceEPvPKc")(
            m_storage, table, guid);
    }
    int GetCurrentStage(const char* path, unsigned* stage)
    {
        return Member<int (*)(void*, const char*, unsigned*)>(
            "_ZN13KoraFexDevice15GetCurrentStageEPKcPj")(m_storage, path, stage);
    }
    int PrivateData(const char* member, const char* path, void* buf, unsigned len)
    {
        return Member<int (*)(void*, const char*, void*, unsigned)>(member)(
            m_storage, path, buf, len);
    }

private:
    template <typename Fn> static Fn Member(const char* symbol)
    {
        return PluginFunction<Fn>(symbol);
    }
    alignas(KoraFexDevice) unsigned char m_storage[sizeof(KoraFexDevice)];
};

constexpr const char* kPrivateDataMembers[] = {
    "_ZN13KoraFexDevice17GetFelPrivateDataEPKcPvj",
    "_ZN13KoraFexDevice17SetFelPrivateDataEPKcPvj",
    "_ZN13KoraFexDevice17GetFesPrivateDataEPKcPvj",
    "_ZN13KoraFexDevice17SetFesPrivateDataEPKcPvj",
};

TEST_F(StageBuffer, FexDeviceFailsAtOnceBeforeSetInterface)
{
    FexDeviceObject device;
    unsigned stage = 77;
    std::vector<uint8_t> buf(256);
    EXPECT_EQ(device.GetCurrentStage(Node().c_str(), &stage), 127);
    for (const char* member : kPrivateDataMembers)
        EXPECT_EQ(device.PrivateData(member, Node().c_str(), buf.data(), 256), -1) << member;

    // Refused interfaces leave it unset.
    EXPECT_EQ(device.SetInterface(nullptr, EFEX_IF_GUID), 90);
    EXPECT_EQ(device.SetInterface(&fex, nullptr), 90);
    EXPECT_EQ(device.SetInterface(&fex, "f3e88841-bb99-42a0-aff4-385e1f5c8f3"), 93);
    EXPECT_EQ(device.SetInterface(&fex, "f3e88841-bb99-42a0-aff4-385e1f5c8f3a "), 93);
    EXPECT_EQ(device.SetInterface(&fex, "F3E88841-BB99-42A0-AFF4-385E1F5C8F3A"), 101);
    EXPECT_EQ(device.GetCurrentStage(Node().c_str(), &stage), 127);
    EXPECT_EQ(stage, 77u);
    EXPECT_EQ(CommandCount(), 0u);
}

TEST_F(StageBuffer, FexDeviceWorksThroughTheTableItKeeps)
{
    FexDeviceObject device;
    ASSERT_EQ(device.SetInterface(&fex, "f3e88841-bb99-42a0-aff4-385e1f5c8f3a"), 0);
    // A later refusal keeps the table.
    EXPECT_EQ(device.SetInterface(&fex, "other"), 93);

    unsigned stage = 0;
    EXPECT_EQ(device.GetCurrentStage(Node().c_str(), &stage), 0);
    EXPECT_EQ(stage, DEVICE_STAGE_FEL);
    std::vector<uint8_t> buf(256);
    EXPECT_EQ(device.PrivateData(kPrivateDataMembers[0], Node().c_str(), buf.data(), 256), 0);
    EXPECT_EQ(buf, FreshPrivateData(256));
    memset(buf.data(), 0, 4);
    EXPECT_EQ(device.PrivateData(kPrivateDataMembers[1], Node().c_str(), buf.data(), 256), 0);
    EXPECT_EQ(board->PrivateData(), buf);

    ASSERT_NO_FATAL_FAILURE(BringToFes());
    EXPECT_EQ(device.GetCurrentStage(Node().c_str(), &stage), 0);
    EXPECT_EQ(stage, DEVICE_STAGE_FES);
    std::vector<uint8_t> fes(256, 0x11);
    EXPECT_EQ(device.PrivateData(kPrivateDataMembers[2], Node().c_str(), fes.data(), 256), 0);
    EXPECT_EQ(fes, buf);
    EXPECT_EQ(device.PrivateData(kPrivateDataMembers[3], Node().c_str(), fes.data(), 256), 0);
}

} // namespace
