// The sample image flashed into a simulated board the way VemoProc.Plg runs
// a session: KoraImage takes the tool script out of the image through the
// real imgdec_fun.lua, the host callbacks report to a test double of the
// window, and LUA_TOOL_FEX calls Tools.Init, entry_fel2fes and, once the
// board is back in FES, entry_fes_thread. Before that the board is taken in
// FEL through the plug-in's own private-data functions, as the session
// controller does. The board's whole flash is compared byte for byte with the
// partitions the image was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <thread>
#include <unistd.h>

#include "FexDevice/stage/stage_buffer.h"
#include "PlgApi.h"
#include "SampleFlash.h"
#include "ScriptHostSupport.h"
#include "SimDevice.h"
#include "UsbwireTable.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// Runs on the script's thread at every progress report, before the window
// double records it; lets a test act between a partition's write and its
// read-back.
std::function<void(const char*)> g_onProgress;

int RecordProgress(void* ctx, unsigned int percent, const char* text)
{
    if (g_onProgress)
        g_onProgress(text);
    return WindowDouble::Callbacks().pfnBurnProcess(ctx, percent, text);
}

class FlashSample : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The program's directory as far as image access needs it; the tool
        // script loads its libraries from the directory of workDir (build/bin).
        for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
            fs::copy_file(std::string(VEMORA_BIN_DIR) + "/" + name, dir / name);
        VemoCallbackFun callbacks = WindowDouble::Callbacks();
        callbacks.pfnBurnProcess = RecordProgress;
        WindowDouble::Install(callbacks);
        ASSERT_EQ(0u, api.SetModuleDir(image.get(), "x"));
        simdev::BusOptions options;
        options.dev_dir = dir.path();
        bus = std::make_unique<simdev::Bus>(options);
        ASSERT_TRUE(bus->Ok()) << bus->Error();
    }

    void TearDown() override
    {
        g_onProgress = nullptr;
        if (L)
            api.GetToolIF(image.get())->Exit(L, nullptr);
        bus.reset();
    }

    // A fresh board in FEL, taken the way the session controller takes it:
    // private data read, `id` found fresh, written back as 0.
    void Plug(uint64_t flashSize)
    {
        simdev::BoardOptions options;
        options.flash_size = flashSize;
        options.flash_dir = dir.path();
        options.fes_delay = 50ms;
        board = bus->Plug(options);
        ASSERT_TRUE(board) << bus->Error();
        using PrivateDataFn = decltype(&SetFelPrivateData);
        auto get = reinterpret_cast<PrivateDataFn>(dlsym(api.handle, "GetFelPrivateData"));
        auto set = reinterpret_cast<PrivateDataFn>(dlsym(api.handle, "SetFelPrivateData"));
        ASSERT_TRUE(get && set) << "VemoProc.Plg exports the private-data functions";
        ASSERT_NE(nullptr, UsbwireTable()) << "usbwire.dll's GetInterface";
        const std::string node = board->NodePath();
        tag_PRIVATE_DATA block {};
        ASSERT_EQ(0, get(UsbwireTable(), node.c_str(), &block, sizeof block));
        ASSERT_EQ(0xCCCCCCCCu, block.id) << "a fresh board";
        block.id = 0;
        ASSERT_EQ(0, set(UsbwireTable(), node.c_str(), &block, sizeof block));
        ASSERT_EQ(0u, Le32(board->PrivateData(), 0)) << "taken";
    }

    // Packs an image in the scratch folder from a manifest; "" on failure.
    std::string Pack(const std::string& name, const std::string& manifest)
    {
        WriteFile(dir / (name + ".manifest"), manifest);
        const std::string command = std::string(VEMORA_BIN_DIR) + "/vemora-imgtool pack "
            + (dir / name) + " " + (dir / (name + ".manifest")) + " > /dev/null";
        return std::system(command.c_str()) == 0 ? dir / name : "";
    }

    static std::string ToolItem()
    {
        return "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + std::string(SAMPLE_SRC_DIR) + "/tools.lua\"\n";
    }

    static std::string SecondStageItem(const std::string& target)
    {
        return "item FES2BOOT secondstage \"" + SampleFile("secondstage.bin")
            + "\" target=" + target + "\n";
    }

    static std::string PartitionItem(
        const std::string& sub, const char* file, const std::string& target)
    {
        return "item PARTITON " + sub + " \"" + SampleFile(file) + "\" target=" + target + "\n";
    }

    // FES transfers the board received; a refused layout sends none.
    size_t FesTransfers() const
    {
        const auto commands = board->Commands();
        return static_cast<size_t>(std::count_if(commands.begin(), commands.end(),
            [](const simdev::CommandRecord& c) { return c.code == 0x0201; }));
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

    // A fresh board carried into FES by the image's tool script, then the FES
    // entry; its result in `fesResult`.
    void RunSession(const std::string& imagePath, uint64_t flashSize, unsigned int& fesResult)
    {
        ASSERT_NO_FATAL_FAILURE(Plug(flashSize));
        ASSERT_EQ(0u, LoadAndInit(imagePath));
        ASSERT_EQ(0u, Fel2Fes(*board));
        ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s)) << "the second stage did not run";
        fesResult = FesThread(*board);
    }

    // A failed FES entry: false from the script, the reason as the window's
    // first error, no end of flashing, the board still only taken.
    void ExpectFailedRun(unsigned int fesResult, const std::string& reason)
    {
        EXPECT_EQ(0xFFFFFFFFu, fesResult);
        const auto errors = CallsOf(WindowCall::Error);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(0u, errors[0].text.find("FES: " + reason)) << errors[0].text;
        EXPECT_TRUE(CallsOf(WindowCall::Over).empty()) << "no code 64 after a failure";
        const std::vector<uint8_t> priv = board->PrivateData();
        EXPECT_EQ(0u, Le32(priv, 0)) << "still only taken";
        EXPECT_NE(kOkFlag, Le32(priv, 4)) << "a failed run leaves ok_flag alone";
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

    WorkDir dir;
    const PlgApi& api = Plg();
    ImageObject image;
    std::unique_ptr<simdev::Bus> bus;
    std::shared_ptr<simdev::Board> board;
    lua_State* L = nullptr;
};

TEST_F(FlashSample, SampleImageFlashesTheBoard)
{
    // Just room for the partitions (the last ends at 32 MiB + 32 KiB): the
    // whole flash is read back below.
    ASSERT_NO_FATAL_FAILURE(Plug(33ull << 20));
    ASSERT_EQ(0u, LoadAndInit(std::string(VEMORA_BIN_DIR) + "/sample.img"));
    // Each entry on a thread of its own, one after the other, as in a session.
    unsigned int felResult = 1;
    std::thread([&] { felResult = Fel2Fes(*board); }).join();
    ASSERT_EQ(0u, felResult);
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s)) << "the second stage did not run";
    unsigned int fesResult = 1;
    std::thread([&] { fesResult = FesThread(*board); }).join();
    ASSERT_EQ(0u, fesResult);

    // The whole flash: the plain partitions at their targets (the encrypted
    // one decrypted), zeros everywhere else.
    EXPECT_TRUE(FlashHoldsSample(board->ReadFlash(0, board->FlashSize())));

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
    unsigned int result = 0;
    // The partitions start at 1 MiB.
    ASSERT_NO_FATAL_FAILURE(
        RunSession(std::string(VEMORA_BIN_DIR) + "/sample.img", 1 << 20, result));
    ExpectFailedRun(result, "CMD_FES_TRANS failed");
}

// The flash loses a byte between the write of the last partition and its
// read-back.
TEST_F(FlashSample, ReadBackMismatchFailsTheRun)
{
    std::string flashPath;
    g_onProgress = [&](const char* text) {
        if (!std::strstr(text, "secure"))
            return;
        const int fd = open(flashPath.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(1, pwrite(fd, "#", 1, 0x2000000 + 100));
        close(fd);
    };
    ASSERT_NO_FATAL_FAILURE(Plug(64ull << 20));
    flashPath = board->FlashPath();
    ASSERT_FALSE(flashPath.empty());
    ASSERT_EQ(0u, LoadAndInit(std::string(VEMORA_BIN_DIR) + "/sample.img"));
    ASSERT_EQ(0u, Fel2Fes(*board));
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s));
    ExpectFailedRun(FesThread(*board), "partition secure reads back wrong");
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

    unsigned int result = 0;
    ASSERT_NO_FATAL_FAILURE(RunSession(copy, 64ull << 20, result));
    ExpectFailedRun(result, "partition rootfs is damaged in the image");
}

// Layouts the board cannot hold as asked are refused before the first write:
// partitions that overlap (the later one would spoil the verified earlier
// one) and a partition beyond the 64 GiB a FES transfer addresses.
TEST_F(FlashSample, PartitionLayoutsThatCannotBeFlashedAreRefused)
{
    struct Case {
        const char* name;
        std::string partitions;
        const char* reason;
    };
    const Case cases[] = {
        {"overlap.img",
            PartitionItem("boot", "boot.img", "0x100000")
                + PartitionItem("rootfs", "rootfs.img", "0x110000"),
            "partitions boot and rootfs overlap in flash"},
        {"far.img",
            PartitionItem("boot", "boot.img", "0x100000")
                + PartitionItem("far", "secure.img", "0xFFFFFF0000"),
            "partition far ends beyond the 64 GiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string imagePath
            = Pack(c.name, ToolItem() + SecondStageItem("0x4A000000") + c.partitions);
        ASSERT_FALSE(imagePath.empty());
        WindowDouble::calls.clear();
        unsigned int result = 0;
        ASSERT_NO_FATAL_FAILURE(RunSession(imagePath, 64ull << 20, result));
        ExpectFailedRun(result, c.reason);
        EXPECT_EQ(0u, FesTransfers()) << "nothing written";
        bus->Unplug(*board);
    }
}

TEST_F(FlashSample, RefusedSecondStageFailsTheFelEntry)
{
    // A payload whose own checksum is wrong: the image is sound, the board
    // refuses to run it.
    std::string payload = ReadFile(SampleFile("secondstage.bin"));
    payload[20] ^= 0x01;
    WriteFile(dir / "stage.bin", payload);
    const std::string imagePath = Pack("bad.img",
        ToolItem() + "item FES2BOOT secondstage \"" + (dir / "stage.bin")
            + "\" target=0x4A000000\n");
    ASSERT_FALSE(imagePath.empty());

    ASSERT_NO_FATAL_FAILURE(Plug(64ull << 20));
    ASSERT_EQ(0u, LoadAndInit(imagePath));
    EXPECT_EQ(227u, Fel2Fes(*board)) << "Tools.entry_fel2fes returned false";
    EXPECT_EQ(simdev::Stage::Fel, board->CurrentStage());
    const auto errors = CallsOf(WindowCall::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(0u, errors[0].text.find("FEL: CMD_FEL_RUN failed")) << errors[0].text;
}

// A second stage that would run past the 32-bit address space is refused
// before anything is downloaded (FEL addresses would wrap onto low RAM).
TEST_F(FlashSample, SecondStageBeyondFourGiBIsRefused)
{
    const std::string imagePath = Pack("wrap.img", ToolItem() + SecondStageItem("0xFFFFF000"));
    ASSERT_FALSE(imagePath.empty());
    ASSERT_NO_FATAL_FAILURE(Plug(64ull << 20));
    ASSERT_EQ(0u, LoadAndInit(imagePath));
    const size_t taken = board->Commands().size(); // taking the board wrote to its RAM
    EXPECT_EQ(227u, Fel2Fes(*board));
    const auto errors = CallsOf(WindowCall::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(std::string::npos, errors[0].text.find("does not fit the board's 32-bit address"))
        << errors[0].text;
    const auto commands = board->Commands();
    for (size_t i = taken; i < commands.size(); ++i)
        EXPECT_NE(0x0101, commands[i].code) << "nothing downloaded";
    EXPECT_EQ(simdev::Stage::Fel, board->CurrentStage());
}

} // namespace
