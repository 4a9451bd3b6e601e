// Whole runs through "VemoProc.Plg" as the window drives it (SessionHost.h):
// simulated boards plugged on a simulated bus, their uevents reaching the
// plug-in's hot-plug monitor through the uevent shim, the sample image's
// tool script carrying each board through FEL and FES.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "CaptureOutput.h"
#include "DeviceMessage/KoraDeviceMessage.h"
#include "Files.h"
#include "SampleFlash.h"
#include "SessionHost.h"
#include "SimDevice.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The wait for FES, shortened for the suite through the controller's test
// hook, before the plug-in reads it.
const bool kShortWait = setenv("VEMORA_FES_WAIT_MS", "1200", 1) == 0;
constexpr auto kWait = 1200ms;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16
        | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

std::vector<uint8_t> PrivateBlock(uint32_t id, uint32_t okFlag)
{
    std::vector<uint8_t> block(256, 0);
    for (int i = 0; i < 4; ++i) {
        block[i] = static_cast<uint8_t>(id >> (8 * i));
        block[4 + i] = static_cast<uint8_t>(okFlag >> (8 * i));
    }
    return block;
}

// A tool script that asks a question before flashing and says when its Exit
// runs: the sample's script, wrapped.
std::string HeldTools(const std::string& dir)
{
    const std::string path = dir + "/held.lua";
    WriteFile(path,
        "dofile(\"" + SampleSrc("tools.lua")
            + "\")\n"
              "local flash = Tools.entry_fes_thread\n"
              "function Tools.entry_fes_thread(args)\n"
              "    ToolMessageBox(\"hold\", \"flash now?\")\n"
              "    return flash(args)\n"
              "end\n"
              "function Tools.Exit() io.stdout:write(\"held tools: Exit\\n\") io.stdout:flush() "
              "return true end\n");
    return path;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kShortWait);
        for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
            fs::copy_file(BinPath(name), dir / name);
        ASSERT_NO_FATAL_FAILURE(host.Start());
        ASSERT_TRUE(bus.WaitForListener(5s)) << "the monitor's socket";
        sample = BinPath("sample.img");
        ASSERT_EQ(0, host.Load(sample));
        mark = host.Mark();
        base = FesStartedBefore();
    }

    void TearDown() override { host.HoldQuestions(false); }

    size_t FesStartedBefore() const
    {
        return host.Since(0, HostCall::Tip, VEMO_TIP_FES_STARTED).size();
    }

    std::shared_ptr<simdev::Board> Plug(simdev::BoardOptions options = {})
    {
        options.flash_size = 33ull << 20;                // just room for the partitions
        options.flash_file = simdev::FlashFile::Unnamed; // nothing left in the folder
        auto board = bus.Plug(options);
        EXPECT_TRUE(board) << bus.Error();
        return board;
    }

    std::vector<HostCall> Of(HostCall::Slot slot, unsigned int code = ~0u) const
    {
        return host.Since(mark, slot, code);
    }

    // Waits for the n-th end of a FES thread since the test began.
    bool FesEnded(size_t n, std::chrono::milliseconds timeout = 15s) const
    {
        return host.WaitFor(
            mark,
            [&](const std::vector<HostCall>& calls) {
                return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                           [](const HostCall& c) {
                               return c.slot == HostCall::Tip && c.code == VEMO_TIP_FES_ENDED;
                           }))
                    >= n;
            },
            timeout);
    }

    bool ErrorSaid(const std::string& text, std::chrono::milliseconds timeout = 10s) const
    {
        return host.WaitFor(
            mark,
            [&](const std::vector<HostCall>& calls) {
                return std::any_of(calls.begin(), calls.end(),
                    [&](const HostCall& c) { return c.slot == HostCall::Error && c.text == text; });
            },
            timeout);
    }

    size_t Errors(const std::string& text) const
    {
        const auto errors = Of(HostCall::Error);
        return static_cast<size_t>(std::count_if(
            errors.begin(), errors.end(), [&](const HostCall& c) { return c.text == text; }));
    }

    WorkDir dir;
    SessionHost& host = SessionHost::Get();
    simdev::Bus bus;
    std::string sample;
    size_t mark = 0;
    size_t base = 0;
};

TEST_F(Session, BoardIsFlashedWholeWithItsMilestones)
{
    const int reloads = host.Reloads();
    auto board = Plug();
    ASSERT_TRUE(FesEnded(1));
    ASSERT_TRUE(host.WaitForCall(mark, HostCall::Over));
    EXPECT_TRUE(FlashHoldsSample(board->ReadFlash(0, board->FlashSize())));
    const auto priv = board->PrivateData();
    EXPECT_EQ(1u, Le32(priv, 0));
    EXPECT_EQ(PRIVATE_OK_FLAG, Le32(priv, 4));

    const auto begins = Of(HostCall::Begin);
    ASSERT_EQ(1u, begins.size());
    EXPECT_EQ(1u, begins[0].code) << "a FEL board arms the window's watchdog";
    EXPECT_EQ(reloads + 1, host.Reloads()) << "the window loaded the image at the run's start";
    const auto felEnded = Of(HostCall::Tip, VEMO_TIP_FEL_ENDED);
    const auto fesStarted = Of(HostCall::Tip, VEMO_TIP_FES_STARTED);
    const auto fesEnded = Of(HostCall::Tip, VEMO_TIP_FES_ENDED);
    ASSERT_EQ(1u, felEnded.size());
    ASSERT_EQ(1u, fesStarted.size());
    EXPECT_EQ(0u, felEnded[0].tip.result);
    EXPECT_STREQ("/dev/qx_efex0", felEnded[0].tip.devName);
    EXPECT_EQ(static_cast<int>(base + 1), fesStarted[0].tip.DeviceId);
    EXPECT_STREQ("/dev/qx_efex1", fesStarted[0].tip.devName);
    EXPECT_EQ(0u, fesEnded[0].tip.result);
    EXPECT_EQ(fesStarted[0].tip.DeviceId, fesEnded[0].tip.DeviceId);
    EXPECT_LE(begins[0].at, felEnded[0].at);
    EXPECT_LE(felEnded[0].at, fesStarted[0].at);

    // The wait runs out after the board came back: no time-out report.
    std::this_thread::sleep_for(kWait);
    EXPECT_TRUE(Of(HostCall::Error).empty());
}

TEST_F(Session, ThreeBoardsInARowAreNumberedOneAfterAnother)
{
    for (size_t n = 1; n <= 3; ++n) {
        bus.EmitNoise(); // other devices' events queued ahead
        auto board = Plug();
        ASSERT_TRUE(FesEnded(n)) << "board " << n;
        bus.Unplug(*board);
    }
    const auto started = Of(HostCall::Tip, VEMO_TIP_FES_STARTED);
    ASSERT_EQ(3u, started.size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(static_cast<int>(base + i + 1), started[i].tip.DeviceId);
    EXPECT_EQ(3u, Of(HostCall::Over).size());
    EXPECT_TRUE(Of(HostCall::Error).empty());
}

// A flood of other devices' events (thousands, as "udevadm trigger" sends),
// sent while a board arrives, is flashed and comes back in FES: what fits the
// receive buffer loses nothing, so the board is flashed and no loss is
// reported. (An overrun is ProcessExitIsSafeWithSessionsRunning's "overrun".)
TEST_F(Session, FloodOfOtherDevicesEventsLosesNoBoard)
{
    std::thread flood([this] {
        for (int i = 0; i < 3000; ++i) // one event or more each
            bus.EmitNoise();
    });
    auto board = Plug();
    const bool ended = FesEnded(1, 30s);
    flood.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(0u, Of(HostCall::Tip, VEMO_TIP_FES_ENDED)[0].tip.result);
    EXPECT_TRUE(FlashHoldsSample(board->ReadFlash(0, board->FlashSize())));
    EXPECT_TRUE(Of(HostCall::Warning).empty());
    // Interleaved: other devices' events between the board's FEL node and
    // its FES node.
    const auto events = bus.Events();
    auto node = [&](const char* name) {
        return std::find_if(events.begin(), events.end(),
            [&](const simdev::Uevent& e) { return e.Get("DEVNAME") == name; });
    };
    const auto fel = node("qx_efex0");
    const auto fes = node("qx_efex1");
    ASSERT_TRUE(fel < fes && fes != events.end());
    EXPECT_TRUE(std::any_of(fel, fes,
        [](const simdev::Uevent& e) { return e.devpath.find("usb1/") == std::string::npos; }));
}

TEST_F(Session, SecondBoardPluggedDuringARunIsLeftAlone)
{
    const std::string image
        = PackImage(dir.path(), "held.img", SampleManifest(HeldTools(dir.path())));
    ASSERT_EQ(0, host.Load(image));
    host.HoldQuestions(true); // the first board's flashing waits for an answer
    CaptureOutput err(stderr);
    auto first = Plug();
    ASSERT_TRUE(host.WaitForCall(mark, HostCall::Question));
    auto second = Plug();
    ASSERT_TRUE(bus.Drain(2s));
    std::this_thread::sleep_for(700ms); // the monitor has worked the events off
    host.Answer(1);
    ASSERT_TRUE(FesEnded(1));
    const std::string log = err.Text();
    EXPECT_NE(std::string::npos, log.find("Too Many Devices plugin...\n")) << log;
    EXPECT_EQ(1u, Of(HostCall::Begin).size());
    EXPECT_EQ(1u, Of(HostCall::Over).size());
    EXPECT_EQ(PRIVATE_ID_FRESH, Le32(second->PrivateData(), 0)) << "the second board untouched";
    EXPECT_EQ(simdev::Stage::Fel, second->CurrentStage());
}

TEST_F(Session, BoardPluggedBeforeAnImageRunsOnceReplugged)
{
    EXPECT_NE(0, host.Load(dir / "missing.img")); // no usable image now
    auto early = Plug();
    ASSERT_TRUE(bus.Drain(2s));
    std::this_thread::sleep_for(700ms); // the monitor has worked the events off
    EXPECT_TRUE(host.Calls().size() == mark) << "refused without a word";
    EXPECT_EQ(PRIVATE_ID_FRESH, Le32(early->PrivateData(), 0));

    ASSERT_EQ(0, host.Load(sample));
    bus.Unplug(*early);
    auto again = Plug();
    ASSERT_TRUE(FesEnded(1));
    EXPECT_EQ(1u, Of(HostCall::Over).size());
}

// FEL boards refused before anything is written to them: one already
// taken, and any board while the image-access script fails (no Lua state).
TEST_F(Session, FelArrivalsRefusedBeforeTheBoardIsWritten)
{
    for (bool broken : {false, true}) {
        SCOPED_TRACE(broken ? "no Lua state" : "taken board");
        const size_t from = host.Mark();
        simdev::BoardOptions options;
        if (broken)
            WriteFile(dir / "imgdec_fun.lua", "error('broken image-access script')\n");
        else
            options.private_data = PrivateBlock(PRIVATE_ID_TAKEN, 0);
        CaptureOutput err(stderr);
        auto board = Plug(options);
        const bool refused = host.WaitForCall(from, HostCall::Error);
        const std::string log = err.Text();
        ASSERT_TRUE(refused);
        EXPECT_EQ("PnpFelIn Error!", host.Since(from, HostCall::Error)[0].text);
        EXPECT_EQ(broken ? PrivateBlock(PRIVATE_ID_FRESH, 0) : options.private_data,
            board->PrivateData());
        EXPECT_TRUE(host.Since(from, HostCall::Tip).empty()) << "no FEL thread";
        EXPECT_NE(std::string::npos,
            log.find(broken ? "PnpFelIn GetLuaInstant failed: no script state\n"
                            : "GetFelPrivateData Failed id = 0\n"))
            << log;
        bus.Unplug(*board);
    }
}

// A board already flashed comes in FES: nothing is started and the window is
// not told; a bad ok_flag is logged.
TEST_F(Session, FlashedBoardInFesStartsNothing)
{
    for (uint32_t okFlag : {PRIVATE_OK_FLAG, 7u}) {
        SCOPED_TRACE(okFlag);
        const size_t from = host.Mark();
        simdev::BoardOptions options;
        options.fes_delay = 300ms;
        CaptureOutput out(stdout);
        auto board = Plug(options);
        const bool felEnded = host.WaitForCall(from, HostCall::Tip, VEMO_TIP_FEL_ENDED);
        board->SetPrivateData(PrivateBlock(1, okFlag)); // flashed by someone while off the bus
        // By the wait's end the board has been back for a while.
        std::this_thread::sleep_for(kWait + 200ms);
        const std::string log = out.Text();
        ASSERT_TRUE(felEnded);
        EXPECT_NE(std::string::npos, log.find("Fes Device Plugin before Timeout!\nKill Timer!\n"));
        EXPECT_TRUE(host.Since(from, HostCall::Tip, VEMO_TIP_FES_STARTED).empty());
        EXPECT_EQ(okFlag != PRIVATE_OK_FLAG,
            log.find("PnpFesIn 重复量产 并且ok_flag 错误 ! 7 请复位后重新量产")
                != std::string::npos)
            << log;
        EXPECT_EQ(0u, Errors("PnpFesIn Error!"));
        bus.Unplug(*board);
    }
}

int g_alarms = 0;
void CountAlarm(int)
{
    ++g_alarms;
}

// The wait for FES, timed without signals (a host's own SIGALRM handler
// stays and never runs): armed only after a FEL half that ended well,
// reported once, the wait's length after the FEL thread ended; a late board
// is still flashed after pfnBurnBegin(null, 0, null), without a reload.
TEST_F(Session, WaitForFesRunsOutOnceWithoutSignals)
{
    struct sigaction mine { };
    mine.sa_handler = CountAlarm;
    ASSERT_EQ(0, sigaction(SIGALRM, &mine, nullptr));
    std::string stage = ReadFile(SampleGen("secondstage.bin"));
    stage[20] ^= 0x01; // the board refuses to run it
    WriteFile(dir / "stage.bin", stage);
    const std::string refused = PackImage(dir.path(), "bad.img",
        "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + SampleSrc("tools.lua")
            + "\"\nitem FES2BOOT secondstage \"" + (dir / "stage.bin") + "\" target=0x4A000000\n");
    struct Case {
        const char* what;
        std::string image;
        bool returns;
        std::chrono::milliseconds delay;
        unsigned int felResult;
        size_t timeouts;
        size_t flashed;
    };
    const Case cases[] = {
        {"entry_fel2fes fails", refused, true, 200ms, 227, 0, 0},
        {"never returns", sample, false, 200ms, 0, 1, 0},
        {"returns late", sample, true, kWait + 600ms, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, host.Load(c.image));
        const size_t from = host.Mark();
        simdev::BoardOptions options;
        options.returns_in_fes = c.returns;
        options.fes_delay = c.delay;
        auto board = Plug(options);
        ASSERT_TRUE(host.WaitForCall(from, HostCall::Tip, VEMO_TIP_FEL_ENDED));
        const int reloads = host.Reloads();
        if (c.timeouts) {
            // A busy machine may report late: wait for the report, then as
            // long again for a second one, which must not come.
            ASSERT_TRUE(host.WaitFor(
                from,
                [](const std::vector<HostCall>& calls) {
                    return std::any_of(calls.begin(), calls.end(), [](const HostCall& e) {
                        return e.slot == HostCall::Error
                            && e.text == "Wait for Fes Device Timeout...";
                    });
                },
                10s));
        }
        std::this_thread::sleep_for(kWait + 300ms);
        if (c.flashed) {
            ASSERT_TRUE(host.WaitForCall(from, HostCall::Over));
        }
        const auto felEnded = host.Since(from, HostCall::Tip, VEMO_TIP_FEL_ENDED);
        EXPECT_EQ(c.felResult, felEnded[0].tip.result);
        std::vector<HostCall> timeouts;
        for (const HostCall& e : host.Since(from, HostCall::Error)) {
            if (e.text == "Wait for Fes Device Timeout...")
                timeouts.push_back(e);
        }
        ASSERT_EQ(c.timeouts, timeouts.size());
        if (!timeouts.empty()) {
            EXPECT_GE(timeouts[0].at - felEnded[0].at, kWait);
            EXPECT_LT(timeouts[0].at - felEnded[0].at, 2 * kWait);
        }
        if (c.felResult != 0) {
            EXPECT_EQ("FelThreadEntry g_Tools_if->Fel2Fes Error!!!!",
                host.Since(from, HostCall::Error).back().text);
        }
        EXPECT_EQ(c.flashed, host.Since(from, HostCall::Over).size());
        EXPECT_EQ(c.flashed, host.Since(from, HostCall::Begin, 0).size());
        EXPECT_EQ(reloads, host.Reloads()) << "no reload for a late board";
        bus.Unplug(*board);
    }
    struct sigaction now { };
    sigaction(SIGALRM, nullptr, &now);
    EXPECT_EQ(CountAlarm, now.sa_handler);
    EXPECT_EQ(0u, alarm(0)) << "no alarm pending";
    EXPECT_EQ(0, g_alarms);
}

// FES runs that fail reach the host as errors (also failures the tool driver
// does not report itself: a result that is not a boolean, true without the
// end report); the next board is flashed.
TEST_F(Session, FailedFesRunsReachTheHostAndTheNextBoardIsFlashed)
{
    const std::string tools = dir / "nil.lua";
    WriteFile(tools,
        "dofile(\"" + SampleSrc("tools.lua")
            + "\")\nfunction Tools.entry_fes_thread(args) return nil end\n");
    const std::string nilResult = PackImage(dir.path(), "nil.img", SampleManifest(tools));
    const std::string silentTools = dir / "silent.lua";
    WriteFile(silentTools,
        "dofile(\"" + SampleSrc("tools.lua")
            + "\")\nfunction Tools.entry_fes_thread(args) return true end\n");
    const std::string silent = PackImage(dir.path(), "silent.img", SampleManifest(silentTools));
    simdev::BoardOptions pulled;
    pulled.faults = {simdev::Fault(simdev::Fault::Unplug, 40, simdev::Stage::Fes)};
    struct Case {
        std::string image;
        simdev::BoardOptions options;
        std::string error; // "" for the script's own text
    };
    const Case cases[] = {
        {sample, pulled, ""},
        {nilResult, {}, "Tools.entry_fes_thread failed with code 290"},
        {silent, {}, "Tools.entry_fes_thread returned true without reporting the end of flashing"},
        {sample, {}, ""},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        SCOPED_TRACE(n);
        const Case& c = cases[n];
        ASSERT_EQ(0, host.Load(c.image));
        const size_t from = host.Mark();
        auto board = Plug(c.options);
        ASSERT_TRUE(FesEnded(n + 1));
        const unsigned int result = Of(HostCall::Tip, VEMO_TIP_FES_ENDED)[n].tip.result;
        const auto errors = host.Since(from, HostCall::Error);
        if (n + 1 < std::size(cases)) {
            EXPECT_NE(0u, result);
            ASSERT_FALSE(errors.empty());
            if (!c.error.empty()) {
                EXPECT_EQ(c.error, errors.back().text);
            }
        } else {
            EXPECT_EQ(0u, result);
            EXPECT_TRUE(errors.empty());
            EXPECT_TRUE(FlashHoldsSample(board->ReadFlash(0, board->FlashSize())));
        }
        bus.Unplug(*board);
    }
}

// While a board's script runs (here: waits for an answer), the image is not
// loaded and no new FEL board is taken; once it has ended both work again.
TEST_F(Session, RunningScriptKeepsItsStateAgainstLoadsAndNewBoards)
{
    const std::string image
        = PackImage(dir.path(), "held.img", SampleManifest(HeldTools(dir.path())));
    ASSERT_EQ(0, host.Load(image));
    host.HoldQuestions(true);
    auto first = Plug();
    ASSERT_TRUE(host.WaitForCall(mark, HostCall::Question));
    EXPECT_EQ(VEMOPROC_SCRIPT_RUNNING, host.Fn().LoadFWFile(image.c_str()));

    bus.Unplug(*first);
    auto second = Plug();
    ASSERT_TRUE(ErrorSaid("Another board's run is still in progress: re-plug this board in FEL "
                          "when it has ended"));
    EXPECT_EQ(1u, Of(HostCall::Begin).size()) << "refused before the window hears of a run";
    EXPECT_EQ(PRIVATE_ID_FRESH, Le32(second->PrivateData(), 0));

    host.Answer(1);
    ASSERT_TRUE(FesEnded(1));
    EXPECT_NE(0u, Of(HostCall::Tip, VEMO_TIP_FES_ENDED)[0].tip.result) << "its board was pulled";
    host.HoldQuestions(false);
    bus.Unplug(*second);
    auto third = Plug();
    ASSERT_TRUE(FesEnded(2));
    EXPECT_EQ(0u, Of(HostCall::Tip, VEMO_TIP_FES_ENDED)[1].tip.result);
}

// Scripts that never return are ended, by the time limit or when the host
// asks: a busy loop, a loop that catches every error, a long ToolsSuspend, a
// question never answered. The run fails with the reason; once ended, the
// image loads again and the next board is flashed.
TEST_F(Session, ScriptsThatNeverReturnAreEnded)
{
    ASSERT_EQ(0, host.Fn().PreVemoMessage(nullptr, VEMO_PM_RUN_LIMIT, 1000, nullptr));
    struct Case {
        const char* what;
        const char* code; // replaces one entry of the sample's script
        bool byHost;      // else the limit ends it
        std::string said;
    };
    const Case cases[] = {
        {"busy loop", "function Tools.entry_fes_thread(args) while true do end end", false,
            "the tool script was ended: Tools.entry_fes_thread ran longer than 1 s"},
        {"loop catching errors",
            "function Tools.entry_fel2fes(args)\n"
            "    while true do pcall(function() while true do end end) end\n"
            "end",
            false, "the tool script was ended: Tools.entry_fel2fes ran longer than 1 s"},
        {"ToolsSuspend", "function Tools.Init(args) ToolsSuspend(100000000) return true end", true,
            "the tool script was ended: no progress"},
        {"unanswered question",
            "function Tools.entry_fes_thread(args) return ToolMessageBox('q', 'never') == 1 end",
            true, "the tool script was ended: no progress"},
    };
    host.HoldQuestions(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tools = dir / "endless.lua";
        WriteFile(tools, "dofile(\"" + SampleSrc("tools.lua") + "\")\n" + c.code + "\n");
        ASSERT_EQ(0, host.Load(PackImage(dir.path(), "endless.img", SampleManifest(tools))));
        const size_t from = host.Mark();
        auto board = Plug();
        if (c.byHost) {
            ASSERT_TRUE(host.WaitForCall(from, HostCall::Begin, 1));
            if (std::string(c.what) == "unanswered question") {
                ASSERT_TRUE(host.WaitForCall(from, HostCall::Question));
            }
            std::this_thread::sleep_for(300ms); // well inside the script
            EXPECT_EQ(
                1, host.Fn().PreVemoMessage(nullptr, VEMO_PM_END_RUN, 0, (void*)"no progress"));
        }
        ASSERT_TRUE(ErrorSaid(c.said, 5s));
        // The script has let go of the state: the image loads again.
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (host.Load(sample) == VEMOPROC_SCRIPT_RUNNING
            && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(50ms);
        EXPECT_EQ(0, host.Load(sample));
        EXPECT_EQ(0, host.Fn().PreVemoMessage(nullptr, VEMO_PM_END_RUN, 0, nullptr)) << "none runs";
        EXPECT_TRUE(host.Since(from, HostCall::Over).empty());
        bus.Unplug(*board);
    }
    host.HoldQuestions(false);
    ASSERT_EQ(0, host.Fn().PreVemoMessage(nullptr, VEMO_PM_RUN_LIMIT, 3600000, nullptr));
    const size_t from = host.Mark();
    auto good = Plug();
    ASSERT_TRUE(host.WaitForCall(from, HostCall::Tip, VEMO_TIP_FES_ENDED));
    EXPECT_EQ(0u, host.Since(from, HostCall::Tip, VEMO_TIP_FES_ENDED)[0].tip.result);
}

TEST_F(Session, BoardBackInFesAfterTheImageWasLoadedAgainIsSentBackToFel)
{
    simdev::BoardOptions options;
    options.fes_delay = 1500ms;
    auto board = Plug(options);
    ASSERT_TRUE(host.WaitForCall(mark, HostCall::Tip, VEMO_TIP_FEL_ENDED));
    // The user picks the image again while the board is away.
    const auto until = std::chrono::steady_clock::now() + 2s;
    int loaded = -1;
    while (loaded != 0 && std::chrono::steady_clock::now() < until)
        loaded = host.Load(sample);
    ASSERT_EQ(0, loaded);
    ASSERT_TRUE(ErrorSaid(DEVMSG_REPLACED_TEXT));
    EXPECT_TRUE(Of(HostCall::Tip, VEMO_TIP_FES_STARTED).empty());
    EXPECT_EQ(0u, Errors("PnpFesIn Error!"));
    EXPECT_EQ(PRIVATE_ID_TAKEN, Le32(board->PrivateData(), 0));
}

TEST_F(Session, TableExportsAndLoads)
{
    void* plugin = dlopen(BinPath("VemoProc.Plg").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(plugin);
    auto getInterface = reinterpret_cast<VemoProcFunc* (*)(void*)>(dlsym(plugin, "GetInterface"));
    ASSERT_TRUE(getInterface);
    const VemoProcFunc* table = getInterface(nullptr);
    EXPECT_EQ(&host.Fn(), table);
    EXPECT_EQ(nullptr, table->reserved0);
    EXPECT_EQ(nullptr, table->reserved5);
    EXPECT_EQ(dlsym(plugin, "LoadFWFile"), reinterpret_cast<void*>(table->LoadFWFile));
    EXPECT_EQ(dlsym(plugin, "DeviceMsgLoop"), reinterpret_cast<void*>(table->DeviceMsgLoop));
    EXPECT_EQ(0, reinterpret_cast<int (*)(void*)>(dlsym(plugin, "Release"))(nullptr));
    EXPECT_EQ(1,
        reinterpret_cast<int (*)(void*, unsigned, void*)>(dlsym(plugin, "DllMain"))(
            nullptr, 0, nullptr));
    EXPECT_EQ(0, table->PreVemoMessage(nullptr, 1, 2, nullptr));
    EXPECT_EQ(0, table->BurnFWFile());

    EXPECT_EQ(VEMOPROC_NULL_PATH, table->LoadFWFile(nullptr));
    const std::string tooLong = "/" + std::string(259, 'x');
    EXPECT_EQ(VEMOPROC_PATH_TOO_LONG, table->LoadFWFile(tooLong.c_str()));
    EXPECT_NE(VEMOPROC_PATH_TOO_LONG, table->LoadFWFile(tooLong.substr(1).c_str()));

    // One monitor, however often it is asked for.
    const size_t threads = ListFolder("/proc/self/task").size();
    EXPECT_EQ(0, table->DeviceMsgLoop(nullptr));
    EXPECT_EQ(threads, ListFolder("/proc/self/task").size());

    // Loads from two threads at once, as the window's thread and the
    // monitor's may: each ends whole.
    std::vector<int> results(8, -1);
    std::thread other([&] {
        for (int i = 0; i < 4; ++i)
            results[i] = host.Load(sample);
    });
    for (int i = 4; i < 8; ++i)
        results[i] = host.Load(sample);
    other.join();
    EXPECT_EQ(std::vector<int>(8, 0), results);
    auto board = Plug();
    ASSERT_TRUE(FesEnded(1));
    EXPECT_EQ(0u, Of(HostCall::Tip, VEMO_TIP_FES_ENDED)[0].tip.result);
}

// How this program was started by one of the tests below.
std::string ChildMode()
{
    const char* mode = std::getenv("VEMORA_SESSION_CHILD");
    return mode ? mode : "";
}

// Runs this program with `argv` ("SELF" for its path) and the mode set;
// its exit status, standard output and error in `output`.
int RunChild(const std::string& mode, std::vector<std::string> argv, std::string& output)
{
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return -1;
    ScratchDir scratch;
    const std::string log = scratch / "child.log";
    std::vector<char*> args;
    for (auto& arg : argv) {
        if (arg == "SELF")
            arg = self;
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    setenv("VEMORA_SESSION_CHILD", mode.c_str(), 1);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, args[0], &files, nullptr, args.data(), environ);
    unsetenv("VEMORA_SESSION_CHILD");
    posix_spawn_file_actions_destroy(&files);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child)
        return -1;
    output = ReadFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Started by the test below: a board's run, then the process exits with the
// script still waiting for an answer, or after the run has ended; or a flood
// of events that overruns the monitor's receive buffer.
TEST_F(Session, ExitInTheChild)
{
    if (ChildMode().empty())
        GTEST_SKIP() << "runs only as the child of ProcessExitIsSafeWithSessionsRunning";
    // Run last at exit, after the static destructors of the libraries the
    // plug-in loads from here on: the threads still running get the time to
    // touch anything those destructors freed, where the sanitizer sees it.
    std::atexit([] { std::this_thread::sleep_for(300ms); });
    if (ChildMode() == "overrun") {
        // More events than the monitor's receive buffer holds (16 MiB at
        // most, about 1.3 KiB charged for each), sent while it is busy with
        // a board's Init; the host is warned once it reads on.
        const std::string tools = dir / "slow.lua";
        WriteFile(tools,
            "dofile(\"" + SampleSrc("tools.lua")
                + "\")\nlocal init = Tools.Init\n"
                  "function Tools.Init(args) ToolsSuspend(2000) return init(args) end\n");
        ASSERT_EQ(0, host.Load(PackImage(dir.path(), "slow.img", SampleManifest(tools))));
        auto board = Plug();
        ASSERT_TRUE(host.WaitForCall(mark, HostCall::Begin));
        for (int i = 0; i < 14000; ++i) // one event or more each
            bus.EmitNoise();
        ASSERT_TRUE(host.WaitForCall(mark, HostCall::Warning, ~0u, 20s));
        std::printf("host warned: %s\n", Of(HostCall::Warning)[0].text.c_str());
        std::fflush(nullptr);
        std::exit(0);
    }
    const std::string image
        = PackImage(dir.path(), "held.img", SampleManifest(HeldTools(dir.path())));
    ASSERT_EQ(0, host.Load(image));
    host.HoldQuestions(ChildMode() == "running");
    auto board = Plug();
    if (ChildMode() == "running")
        ASSERT_TRUE(host.WaitForCall(mark, HostCall::Question));
    else
        ASSERT_TRUE(FesEnded(1));
    std::fflush(nullptr);
    std::exit(0);
}

TEST_F(Session, ProcessExitIsSafeWithSessionsRunning)
{
    if (!ChildMode().empty())
        GTEST_SKIP() << "already the child";
    struct Case {
        const char* mode;
        std::vector<const char*> said;
    };
    const Case cases[] = {
        {"running", {"a script still runs at exit; its Exit is skipped"}},
        {"ended", {"held tools: Exit\n"}},
        {"overrun",
            {"hotplug: uevents were lost (receive buffer full); re-plug the device if it is not "
             "taken\n",
                "host warned: Device events were lost (too many at once): re-plug any board that "
                "was not taken\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string output;
        EXPECT_EQ(0, RunChild(c.mode, {"SELF", "--gtest_filter=Session.ExitInTheChild"}, output))
            << output;
        for (const char* said : c.said)
            EXPECT_NE(std::string::npos, output.find(said)) << output;
        EXPECT_NE(std::string::npos, output.find("hotplug: uevent receive buffer of ")) << output;
    }
}

// Started by the test below inside `unshare -n`: the monitor on a real
// netlink socket, the board's events sent through the kernel.
TEST(KernelSession, InsideItsOwnNetworkNamespace)
{
    if (ChildMode() != "netns")
        GTEST_SKIP() << "runs only inside the namespace KernelSession.FromAPrivateNamespace makes";
    WorkDir dir;
    for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
        fs::copy_file(BinPath(name), dir / name);
    simdev::BusOptions options;
    options.route = simdev::UeventRoute::Kernel;
    simdev::Bus bus(options); // before the monitor opens its socket: no shim then
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    SessionHost& host = SessionHost::Get();
    ASSERT_NO_FATAL_FAILURE(host.Start());
    ASSERT_TRUE(bus.WaitForListener(5s));
    ASSERT_EQ(0, host.Load(BinPath("sample.img")));
    simdev::BoardOptions board;
    board.flash_size = 33ull << 20;
    board.flash_file = simdev::FlashFile::Unnamed;
    auto plugged = bus.Plug(board);
    ASSERT_TRUE(plugged);
    ASSERT_TRUE(host.WaitForCall(0, HostCall::Tip, VEMO_TIP_FES_ENDED, 20s));
    EXPECT_EQ(0u, host.Since(0, HostCall::Tip, VEMO_TIP_FES_ENDED)[0].tip.result);
    EXPECT_TRUE(FlashHoldsSample(plugged->ReadFlash(0, plugged->FlashSize())));
}

TEST(KernelSession, FromAPrivateNamespace)
{
    if (!ChildMode().empty())
        GTEST_SKIP() << "already inside";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -n is not permitted here";
    std::string output;
    EXPECT_EQ(0,
        RunChild("netns",
            {"unshare", "-n", "SELF", "--gtest_filter=KernelSession.InsideItsOwnNetworkNamespace"},
            output))
        << output;
    EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
}

} // namespace
