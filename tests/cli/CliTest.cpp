// vemora-cli as an operator or a factory script meets it: the real program
// with the real plug-ins, a simulated board preloaded, the sample image.
#include "CliProcess.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kRun = 60s;

// Boards that come soon after start and after each other, and leave once the
// runner is done with them in FES (the monitor needs about a second to reach
// a board's FES arrival, so they wait longer than that).
std::vector<std::string> Boards(int count, std::vector<std::string> more = {})
{
    std::vector<std::string> variables = {"VEMORA_SIM_BOARDS=" + std::to_string(count),
        "VEMORA_SIM_PLUG_DELAY_MS=300", "VEMORA_SIM_PLUG_INTERVAL_MS=300",
        "VEMORA_SIM_FES_DELAY_MS=100", "VEMORA_SIM_FES_IDLE_UNPLUG_MS=2000"};
    variables.insert(variables.end(), more.begin(), more.end());
    return variables;
}

struct Result {
    int status;
    std::string output;
    std::string folder;
};

Result RunCli(const CliOptions& options)
{
    CliProcess cli(options);
    const int status = cli.Finish(kRun);
    return {status, cli.Output(), cli.Folder()};
}

bool Has(const std::string& output, const std::string& text)
{
    return output.find(text) != std::string::npos;
}

TEST(CliCommandLine, BadArgumentsAndFilesAreRefusedBeforeAnythingStarts)
{
    ScratchDir scratch;
    const std::string image = BinPath("sample.img");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{}, 2, "vemora-cli: no image given"},
        {{image, image}, 2, "one image only"},
        {{"--count", "0", image}, 2, "--count needs a whole number from 1 up, not \"0\""},
        {{"--count=-3", image}, 2, "--count needs a whole number from 1 up"},
        {{"--count", "12x", image}, 2, "--count needs a whole number"},
        {{"--script-limit", "0", image}, 2,
            "--script-limit needs a number of seconds from 1 to 4294967, not \"0\""},
        {{"--yes", "--cancel", image}, 2, "--yes, --no and --cancel exclude each other"},
        {{"--plain=1", image}, 2, "--plain takes no value"},
        {{image, "--log"}, 2, "--log needs a value"},
        {{"--fast", image}, 2, "unknown option --fast"},
        {{scratch / "missing.img"}, 3,
            "cannot read the image \"" + scratch / "missing.img" + "\": No such file or directory"},
        {{scratch.path()}, 3, "the image " + scratch.path() + " is not a file"},
        {{"--log", scratch / "no/such/folder.log", image}, 3, "cannot open the log"},
    };
    for (const auto& c : cases) {
        const Result result = RunCli({"", c.args, {}, false, false});
        EXPECT_EQ(result.status, c.status) << result.output;
        EXPECT_TRUE(Has(result.output, c.message)) << result.output;
        EXPECT_FALSE(Has(result.output, "library file path")) << "nothing was loaded";
    }
}

TEST(CliCommandLine, HelpDocumentsEveryOptionAndExitStatus)
{
    const Result result = RunCli({"", {"--help"}, {}, false, false});
    EXPECT_EQ(result.status, 0);
    for (const char* text : {"usage: vemora-cli [options] IMAGE", "--count N", "--yes", "--no",
             "--cancel", "--plain", "--log FILE", "--script-limit S",
             "Exit status:", "  4  interrupted", "60-vemora.rules", "A second one ends at once"})
        EXPECT_TRUE(Has(result.output, text)) << text;
}

TEST(CliStart, AMissingPlugInOrARefusedImageEndsTheStartWithItsName)
{
    ScratchDir folder;
    const std::string program = folder / "vemora-cli";
    WriteFile(program, ReadFile(BinPath("vemora-cli")));
    chmod(program.c_str(), 0755);
    WriteFile(folder / "not-an-image.img", "just text\n");
    struct Case {
        const char* copied; // beside the program copy
        std::string programPath;
        std::string image;
        std::string message;
    };
    const Case cases[] = {
        {nullptr, program, BinPath("sample.img"),
            "vemora-cli: cannot load the plug-in center " + folder / "pluginhub.dll"},
        {"pluginhub.dll", program, BinPath("sample.img"),
            "vemora-cli: cannot load the process plug-in " + folder / "VemoProc.Plg"},
        {nullptr, "", folder / "not-an-image.img",
            "vemora-cli: the process plug-in refused the image " + folder / "not-an-image.img"},
    };
    for (const Case& c : cases) {
        if (c.copied)
            WriteFile(folder / c.copied, ReadFile(BinPath(c.copied)));
        const Result result = RunCli({c.programPath, {"--plain", c.image}, {}, false, false});
        EXPECT_EQ(result.status, 3) << result.output;
        EXPECT_TRUE(Has(result.output, c.message)) << result.output;
    }
}

TEST(CliStart, OneRunnerPerFolderSinceTheWorkFilesAreThere)
{
    CliProcess first({"", {"--plain", BinPath("sample.img")}, {}, true, false});
    ASSERT_TRUE(first.WaitFor("plug in boards in FEL", kRun)) << first.Output();
    const Result second
        = RunCli({first.Folder() + "/vemora-cli", {BinPath("sample.img")}, {}, true, false});
    EXPECT_EQ(second.status, 3) << second.output;
    EXPECT_TRUE(Has(second.output, "vemora-cli: another vemora-cli runs from " + first.Folder()))
        << second.output;
    first.Signal(SIGINT);
    EXPECT_EQ(first.Finish(10s), 0) << first.Output();
    EXPECT_TRUE(Has(first.Output(), "summary: 0 boards, 0 ok, 0 failed")) << first.Output();
}

TEST(CliBoards, ThreeBoardsInARowEndAtTheCountWithASummaryEach)
{
    ScratchDir scratch;
    const std::string log = scratch / "runs.log";
    WriteFile(log, "an earlier line\n");
    const Result result = RunCli(
        {"", {"--count", "3", "--log", log, BinPath("sample.img")}, Boards(3), true, false});
    EXPECT_EQ(result.status, 0) << result.output;
    const auto summaries = LinesWith(result.output, ": ok, DeviceId ");
    ASSERT_EQ(summaries.size(), 3u) << result.output;
    for (int n = 1; n <= 3; ++n) {
        const std::string board
            = "board " + std::to_string(n) + ": ok, DeviceId " + std::to_string(n);
        EXPECT_TRUE(Has(summaries[n - 1], board)) << summaries[n - 1];
        EXPECT_TRUE(Has(summaries[n - 1], ", FEL half ")) << summaries[n - 1];
        EXPECT_TRUE(Has(summaries[n - 1], " s, wait ")) << summaries[n - 1];
        EXPECT_TRUE(Has(summaries[n - 1], " s, FES half ")) << summaries[n - 1];
    }
    EXPECT_TRUE(Has(result.output, "summary: 3 boards, 3 ok, 0 failed\n")) << result.output;
    // Not a terminal: timestamped lines, and the log gets them too, appended.
    const std::string logged = ReadFile(log);
    EXPECT_EQ(logged.rfind("an earlier line\n", 0), 0u);
    EXPECT_EQ(LinesWith(logged, ": ok, DeviceId ").size(), 3u) << logged;
    EXPECT_EQ(LinesWith(logged, "summary: 3 boards, 3 ok, 0 failed").size(), 1u) << logged;
    EXPECT_EQ(LinesWith(logged, "board 2: 99% Writing secure (3 of 3)").size(), 1u) << logged;
    EXPECT_FALSE(Has(result.output, "\033[K")) << "no bar without a terminal";
}

TEST(CliBoards, AFailedBoardIsNeverCalledGood)
{
    // The 7th FEX command in FES (after the plug-in's five and the script's
    // verify) writes the first partition.
    const Result result = RunCli({"", {"--count", "1", BinPath("sample.img")},
        Boards(1, {"VEMORA_SIM_FAULTS=fex-fail@fes:7"}), true, false});
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_TRUE(Has(result.output, "board 1: FAILED (FES: CMD_FES_TRANS failed")) << result.output;
    EXPECT_FALSE(Has(result.output, ": ok, ")) << result.output;
    EXPECT_TRUE(Has(result.output, "summary: 1 board, 0 ok, 1 failed (board 1)")) << result.output;
}

TEST(CliBoards, ANodeWithoutPermissionNamesTheUdevRule)
{
    const Result result = RunCli({"", {"--count", "1", BinPath("sample.img")},
        Boards(1, {"VEMORA_SIM_OPEN_ERROR=EACCES"}), true, false});
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_TRUE(
        Has(result.output, "board 1: its node /dev/qx_efex0 cannot be opened: Permission denied"))
        << result.output;
    EXPECT_TRUE(Has(result.output,
        "sudo install -m 644 " + result.folder
            + "/60-vemora.rules /etc/udev/rules.d/60-vemora.rules"))
        << result.output;
    EXPECT_TRUE(Has(result.output, "sudo udevadm control --reload-rules")) << result.output;
    EXPECT_TRUE(Has(result.output, "board 1: FAILED (Get Device Stage Failed!)")) << result.output;
    // Any other failure to open is not blamed on permissions.
    const Result other = RunCli({"", {"--count", "1", BinPath("sample.img")},
        Boards(1, {"VEMORA_SIM_OPEN_ERROR=EIO"}), true, false});
    EXPECT_EQ(other.status, 1) << other.output;
    EXPECT_FALSE(Has(other.output, "60-vemora.rules")) << other.output;
}

TEST(CliQuestions, AnsweredAsTheCommandLineSays)
{
    const struct {
        std::vector<std::string> options;
        int status;
        std::string answer;
        std::string summary;
    } cases[] = {
        {{"--yes"}, 0, "answered Yes (--yes)", "board 1: ok, DeviceId 1"},
        {{"--no"}, 1, "answered No (--no)", "board 1: FAILED (declined, and 1 more error)"},
        {{"--cancel"}, 1, "answered Cancel (--cancel)", "board 1: FAILED (cancelled, "},
        {{}, 1, "answered Cancel: no terminal to ask on", "board 1: FAILED (cancelled, "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--count", "1", ASKING_IMG});
        const Result result = RunCli({"", args, Boards(1), true, false});
        EXPECT_EQ(result.status, c.status) << result.output;
        EXPECT_TRUE(Has(
            result.output, "board 1 asks: \"Flash this board?\" \"Yes flashes it\", " + c.answer))
            << result.output;
        EXPECT_TRUE(Has(result.output, c.summary)) << result.output;
    }
}

TEST(CliQuestions, AskedOnTheTerminalBesideAProgressBar)
{
    CliProcess cli({"", {"--count", "1", ASKING_IMG}, Boards(1), true, true});
    ASSERT_TRUE(cli.WaitFor("[y]es, [n]o or [c]ancel? ", kRun)) << cli.Output();
    cli.Type("perhaps\n");
    ASSERT_TRUE(cli.WaitFor("please answer y (Yes), n (No) or c (Cancel): ", 10s)) << cli.Output();
    cli.Type("Y\n");
    EXPECT_EQ(cli.Finish(kRun), 0) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "answered Yes")) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "\r\033[Kboard 1 [")) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "[####################] 100% ")) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "board 1: ok, DeviceId 1")) << cli.Output();
}

// A link slow enough that a FES half takes a few seconds.
const char kSlowLink[] = "VEMORA_SIM_LINK=1000:400000";

TEST(CliInterrupt, CtrlCFinishesTheBoardInFlightFirst)
{
    CliProcess cli({"", {"--plain", BinPath("sample.img")}, Boards(2, {kSlowLink}), true, false});
    ASSERT_TRUE(cli.WaitFor("board 1: back in FES as DeviceId 1", kRun)) << cli.Output();
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitFor("interrupted: board 1 is in its FES half (", 10s)) << cli.Output();
    // Without --count and with every board good, an interruption is the
    // ordinary end.
    EXPECT_EQ(cli.Finish(kRun), 0) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "board 1: ok, DeviceId 1")) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "summary: 1 board, 1 ok, 0 failed\n")) << cli.Output();
}

TEST(CliInterrupt, CtrlCBetweenBoardsEndsAtOnceShortOfTheCount)
{
    CliProcess cli(
        {"", {"--plain", "--count", "3", BinPath("sample.img")}, Boards(3), true, false});
    ASSERT_TRUE(cli.WaitFor("board 1: ok, DeviceId 1", kRun)) << cli.Output();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Finish(10s), 4) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "interrupted: ending")) << cli.Output();
    EXPECT_TRUE(
        Has(cli.Output(), "summary: 1 board, 1 ok, 0 failed; interrupted before 3 boards finished"))
        << cli.Output();
}

TEST(CliInterrupt, ASecondCtrlCCutsTheBoardOff)
{
    CliProcess cli({"", {"--plain", BinPath("sample.img")}, Boards(1, {kSlowLink}), true, false});
    ASSERT_TRUE(cli.WaitFor("board 1: back in FES as DeviceId 1", kRun)) << cli.Output();
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitFor("interrupted: board 1", 10s)) << cli.Output();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Finish(5s), 1) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "board 1: FAILED (cut off by a second Ctrl-C)")) << cli.Output();
    EXPECT_TRUE(Has(cli.Output(), "summary: 1 board, 0 ok, 1 failed (board 1)")) << cli.Output();
}

} // namespace
