// The sample image flashed into a simulated board the way VemoProc.Plg runs
// a session: KoraImage takes the tool script out of the image through the
// real imgdec_fun.lua, the host callbacks report to a test double of the
// window, and LUA_TOOL_FEX calls Tools.Init, entry_fel2fes and, once the
// board is back in FES, entry_fes_thread. The board's flash is compared byte
// for byte with the partitions the image was made from.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "PlgApi.h"
#include "SimDevice.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Partition {
    const char* file;
    uint64_t target;
};
// As in sample/sample.manifest.in.
const Partition kPartitions[] = {
    {"boot.img", 0x100000},
    {"rootfs.img", 0x400000},
    {"secure.img", 0x2000000},
};
constexpr uint32_t kOkFlag = 0x1234A5CD;

std::string SampleFile(const std::string& name)
{
    return std::string(SAMPLE_GEN_DIR) + "/" + name;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16
        | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

class FlashSample : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The program's directory as far as image access needs it; the tool
        // script loads its libraries from the directory of workDir (build/bin).
        for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
            fs::copy_file(std::string(VEMORA_BIN_DIR) + "/" + name, dir / name);
        WindowDouble::Install();
        ASSERT_EQ(0u, api.SetModuleDir(image.get(), "x"));
        simdev::BusOptions options;
        options.dev_dir = dir.path();
        bus = std::make_unique<simdev::Bus>(options);
        ASSERT_TRUE(bus->Ok()) << bus->Error();
    }

    void TearDown() override
    {
        if (L)
            api.GetToolIF(image.get())->Exit(L, nullptr);
        bus.reset();
    }

    std::shared_ptr<simdev::Board> Plug(uint64_t flashSize)
    {
        simdev::BoardOptions options;
        options.flash_size = flashSize;
        options.flash_dir = dir.path();
        options.fes_delay = 50ms;
        auto board = bus->Plug(options);
        // The session controller takes the board in FEL: id 0.
        board->SetPrivateData(std::vector<uint8_t>(256, 0));
        return board;
    }

    // What PnpFelIn does before the FEL thread: a fresh state with the tools
    // of the image, the host callbacks, Tools.Init.
    unsigned int LoadAndInit(const std::string& imagePath)
    {
        if (api.SetImagePath(image.get(), imagePath.c_str()) != 0)
            return 1;
        api.CloseLua(image.get());
        L = api.GetLuaInstant(image.get());
        if (!L || api.LoadTools(image.get()) != 0)
            return 2;
        lua_register(L, "ToolMsgCallBack", api.l_ToolMsgCallBack);
        lua_register(L, "ToolMessageBox", api.l_ToolMessageBox);
        lua_register(L, "ToolsSuspend", api.l_ToolsSuspend);
        _tag_TOOL_INIT_PARA init {};
        std::snprintf(init.imgFilePath, sizeof init.imgFilePath, "%s", imagePath.c_str());
        const ssize_t n = readlink("/proc/self/exe", init.workDir, sizeof init.workDir - 1);
        if (n <= 0)
            return 3;
        init.Mode = 8;
        init.ImgLenLow = static_cast<int32_t>(api.GetImageSize(image.get()));
        return api.GetToolIF(image.get())->Init(L, &init);
    }

    unsigned int Fel2Fes(simdev::Board& board)
    {
        _tag_TOOL_FELPARA fel {};
        std::snprintf(fel.felDevName, sizeof fel.felDevName, "%s", board.NodePath().c_str());
        return api.GetToolIF(image.get())->Fel2Fes(L, &fel);
    }

    unsigned int FesThread(simdev::Board& board)
    {
        _tag_TOOL_FESPARA fes {};
        std::snprintf(fes.fesDevName, sizeof fes.fesDevName, "%s", board.NodePath().c_str());
        fes.DeviceId = 1;
        return api.GetToolIF(image.get())->ToolEntry(L, &fes);
    }

    std::vector<WindowCall> CallsOf(WindowCall::Slot slot) const
    {
        std::vector<WindowCall> found;
        for (const WindowCall& call : WindowDouble::calls) {
            if (call.slot == slot)
                found.push_back(call);
        }
        return found;
    }

    ScratchDir dir;
    const PlgApi& api = Plg();
    ImageObject image;
    std::unique_ptr<simdev::Bus> bus;
    lua_State* L = nullptr;
};

TEST_F(FlashSample, SampleImageFlashesTheBoard)
{
    auto board = Plug(64ull << 20);
    ASSERT_EQ(0u, LoadAndInit(std::string(VEMORA_BIN_DIR) + "/sample.img"));
    // Each entry on a thread of its own, one after the other, as in a session.
    unsigned int felResult = 1;
    std::thread([&] { felResult = Fel2Fes(*board); }).join();
    ASSERT_EQ(0u, felResult);
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s)) << "the second stage did not run";
    unsigned int fesResult = 1;
    std::thread([&] { fesResult = FesThread(*board); }).join();
    ASSERT_EQ(0u, fesResult);

    for (const Partition& p : kPartitions) {
        SCOPED_TRACE(p.file);
        const std::string data = ReadFile(SampleFile(p.file));
        ASSERT_FALSE(data.empty());
        const std::vector<uint8_t> flash = board->ReadFlash(p.target, data.size());
        ASSERT_EQ(data.size(), flash.size());
        EXPECT_EQ(0, std::memcmp(data.data(), flash.data(), data.size()))
            << "flash differs from the partition";
        EXPECT_EQ(std::vector<uint8_t>(4096, 0), board->ReadFlash(p.target - 4096, 4096))
            << "nothing written before the partition";
        EXPECT_EQ(std::vector<uint8_t>(16, 0), board->ReadFlash(p.target + data.size(), 16))
            << "nothing written after the partition";
    }
    const std::vector<uint8_t> priv = board->PrivateData();
    EXPECT_EQ(1u, Le32(priv, 0)) << "id marks the board as flashed";
    EXPECT_EQ(kOkFlag, Le32(priv, 4));

    EXPECT_TRUE(CallsOf(WindowCall::Error).empty());
    const auto over = CallsOf(WindowCall::Over);
    ASSERT_EQ(1u, over.size());
    EXPECT_NE(std::string::npos, over[0].text.find("Flashed 3 partitions")) << over[0].text;
    const auto progress = CallsOf(WindowCall::Process);
    ASSERT_GE(progress.size(), 3u);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i - 1].code, progress[i].code) << "progress never goes back";
    EXPECT_NE(std::string::npos, progress.back().text.find("secure")) << progress.back().text;
}

TEST_F(FlashSample, TooSmallFlashIsReportedAndNotMarked)
{
    auto board = Plug(1ull << 20); // the partitions start at 1 MiB
    ASSERT_EQ(0u, LoadAndInit(std::string(VEMORA_BIN_DIR) + "/sample.img"));
    ASSERT_EQ(0u, Fel2Fes(*board));
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s));
    EXPECT_EQ(0xFFFFFFFFu, FesThread(*board));

    const auto errors = CallsOf(WindowCall::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(0u, errors[0].text.find("FES: CMD_FES_TRANS failed")) << errors[0].text;
    EXPECT_TRUE(CallsOf(WindowCall::Over).empty());
    EXPECT_EQ(0u, Le32(board->PrivateData(), 4)) << "a failed run leaves ok_flag alone";
}

TEST_F(FlashSample, DamagedPartitionInTheImageIsCaught)
{
    // Flip one byte of the rootfs item's data in a copy of the sample image.
    const std::string copy = dir / "damaged.img";
    fs::copy_file(std::string(VEMORA_BIN_DIR) + "/sample.img", copy);
    const std::string listing = [&] {
        std::string out;
        const std::string command = std::string(VEMORA_BIN_DIR) + "/vemora-imgtool list " + copy;
        FILE* pipe = popen(command.c_str(), "r");
        char line[512];
        while (pipe && std::fgets(line, sizeof line, pipe))
            out += line;
        if (pipe)
            pclose(pipe);
        return out;
    }();
    const size_t at = listing.find("PARTITON rootfs");
    ASSERT_NE(std::string::npos, at) << listing;
    const uint64_t offset
        = std::strtoull(listing.c_str() + listing.find("offset=", at) + 7, nullptr, 10);
    std::string bytes = ReadFile(copy);
    bytes[offset + 12345] ^= 0x20;
    WriteFile(copy, bytes);

    auto board = Plug(64ull << 20);
    ASSERT_EQ(0u, LoadAndInit(copy));
    ASSERT_EQ(0u, Fel2Fes(*board));
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s));
    EXPECT_EQ(0xFFFFFFFFu, FesThread(*board));
    const auto errors = CallsOf(WindowCall::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(std::string::npos, errors[0].text.find("rootfs is damaged in the image"))
        << errors[0].text;
    EXPECT_NE(kOkFlag, Le32(board->PrivateData(), 4));
}

TEST_F(FlashSample, RefusedSecondStageFailsTheFelEntry)
{
    // A payload whose own checksum is wrong: the image is sound, the board
    // refuses to run it.
    std::string payload = ReadFile(SampleFile("secondstage.bin"));
    payload[20] ^= 0x01;
    WriteFile(dir / "stage.bin", payload);
    WriteFile(dir / "bad.manifest",
        "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + std::string(SAMPLE_SRC_DIR) + "/tools.lua\"\n"
            + "item FES2BOOT secondstage stage.bin target=0x4A000000\n");
    const std::string command = std::string(VEMORA_BIN_DIR) + "/vemora-imgtool pack "
        + (dir / "bad.img") + " " + (dir / "bad.manifest") + " > /dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));

    auto board = Plug(64ull << 20);
    ASSERT_EQ(0u, LoadAndInit(dir / "bad.img"));
    EXPECT_EQ(227u, Fel2Fes(*board)) << "Tools.entry_fel2fes returned false";
    EXPECT_EQ(simdev::Stage::Fel, board->CurrentStage());
    const auto errors = CallsOf(WindowCall::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(0u, errors[0].text.find("FEL: CMD_FEL_RUN failed")) << errors[0].text;
}

} // namespace
