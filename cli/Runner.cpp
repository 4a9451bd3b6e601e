#include "Runner.h"

#include "Boards.h"
#include "Callbacks.h"
#include "Console.h"
#include "Interrupts.h"
#include "ModulePath.h"
#include "NodeWatch.h"
#include "PluginWiring.h"
#include "Questions.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLoopMs = 250;
constexpr std::chrono::seconds kTick {1};
// The runner's own listener may read an arrival a little after the plug-in's
// monitor has already failed on it.
constexpr std::chrono::milliseconds kProbeDelay {300};
// How fresh the node must be to be the one the failed query was about.
constexpr std::chrono::milliseconds kProbeRecent {10000};

// The session's parts. Never destroyed: the plug-in's threads reach them
// until the process ends.
Console* g_pConsole = nullptr;
Boards* g_pBoards = nullptr;
Questions* g_pQuestions = nullptr;
RunnerContext* g_pContext = nullptr;
NodeWatch* g_pWatch = nullptr;

const char kRulesFile[] = "60-vemora.rules";
const char kRulesGroup[] = "plugdev";

// A start-up failure: on standard error and in the log.
int CannotStart(FILE* log, const std::string& text)
{
    std::fprintf(stderr, "vemora-cli: %s\n", text.c_str());
    if (log)
        std::fprintf(log, "%s vemora-cli: %s\n", Timestamp().c_str(), text.c_str());
    return kExitCannotStart;
}

// The image's full path and size, or false with the reason. The file must be
// a regular file that can be read: a folder or a pipe would stall the image
// access.
bool CheckImage(const std::string& given, std::string& path, int64_t& size, std::string& error)
{
    char full[PATH_MAX];
    if (given.empty() || !realpath(given.c_str(), full)) {
        error = "cannot read the image \"" + given
            + "\": " + std::strerror(given.empty() ? ENOENT : errno);
        return false;
    }
    path = full;
    const int fd = open(full, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read the image " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info { };
    const bool statted = fstat(fd, &info) == 0;
    close(fd);
    if (!statted || !S_ISREG(info.st_mode)) {
        error = "the image " + path + " is not a file";
        return false;
    }
    if (path.size() >= static_cast<size_t>(MAX_PATH_LEN)) {
        error = "the image's full path " + path + " is " + std::to_string(path.size())
            + " bytes long; the plug-in takes at most " + std::to_string(MAX_PATH_LEN - 1);
        return false;
    }
    size = info.st_size;
    return true;
}

// The program's folder, with its "/" at the end.
std::string ProgramFolder()
{
    char path[MAX_PATH_LEN];
    return GetModuleRelPath("", path) < 0 ? std::string() : std::string(path);
}

// When the plug-in could not query a board, tells whether its node refused
// the user and how to let them in.
void ExplainPermission(Console& console, NodeWatch& watch, int board, const std::string& folder)
{
    const std::string node = watch.NewestNode(kProbeRecent);
    std::string reason;
    if (node.empty() || !RefusedForPermission(node, reason))
        return;
    const std::string who = "board " + std::to_string(board) + ": ";
    console.Line(who + "its node " + node + " cannot be opened: " + reason);
    console.Line(who + "the udev rule " + kRulesFile
        + " gives the boards' nodes (qx_efex*) to the group " + kRulesGroup + "; install it once:");
    console.Line(
        who + "  sudo install -m 644 " + folder + kRulesFile + " /etc/udev/rules.d/" + kRulesFile);
    console.Line(who + "  sudo udevadm control --reload-rules");
    console.Line(who + "then be a member of " + kRulesGroup + " (sudo usermod -aG " + kRulesGroup
        + " $USER, and log in again) and re-plug the board");
}

} // namespace

int RunBoards(const Options& options)
{
    FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "ae");
        if (!log) {
            std::fprintf(stderr, "vemora-cli: cannot open the log %s: %s\n",
                options.logPath.c_str(), std::strerror(errno));
            return kExitCannotStart;
        }
    }
    // Named relative to where the runner was started, so taken before the
    // runner moves to its own folder.
    std::string image;
    int64_t imageBytes = 0;
    std::string error;
    if (!CheckImage(options.image, image, imageBytes, error))
        return CannotStart(log, error);
    if (!CatchInterrupts())
        return CannotStart(log, std::string("cannot catch Ctrl-C: ") + std::strerror(errno));

    // As the window: the plug-ins find their files ("./imgdec_fun.lua")
    // relative to the program's folder.
    const std::string folder = ProgramFolder();
    if (folder.empty() || chdir(folder.c_str()) != 0)
        return CannotStart(log, "cannot work in the program's folder " + folder);
    // The plug-in writes its work files ("tools.scj") there: a second runner
    // would replace the tool script of the first one's image with its own.
    // The lock is held until the process ends.
    const int folderLock = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderLock < 0 || flock(folderLock, LOCK_EX | LOCK_NB) != 0)
        return CannotStart(log,
            "another vemora-cli runs from " + folder
                + " and its work files are there; run one per folder");

    tag_PLUGIN_MAN* manager = OpenPluginCenter();
    if (!manager) {
        std::printf("LoadPluginCenter Failed\n");
        return CannotStart(log, "cannot load the plug-in center " + folder + "pluginhub.dll");
    }
    PluginLoadInfo record;
    auto* proc = static_cast<VemoProcFunc*>(
        ObtainInterface(*manager, record, VEMOPROC_GUID, "VemoProc.Plg"));
    if (!proc) {
        std::printf("LoadPlugin VemoProc Failed\n");
        return CannotStart(log, "cannot load the process plug-in " + folder + "VemoProc.Plg");
    }

    auto* console = g_pConsole = new Console(!options.plain && isatty(1), log);
    auto* boards = g_pBoards = new Boards(*console, imageBytes, options.count);
    auto* questions = g_pQuestions = new Questions(*console, *boards, options.answer, isatty(0));
    auto* context = g_pContext = new RunnerContext;
    context->proc = proc;
    context->image = image;
    context->boards = boards;
    context->questions = questions;

    if (const int result = proc->InitVemoProc(context, RunnerCallbacks(context))) {
        console->Stop();
        return CannotStart(
            log, "the process plug-in did not start (InitVemoProc " + std::to_string(result) + ")");
    }
    if (const int result = proc->LoadFWFile(image.c_str())) {
        console->Stop();
        return CannotStart(log,
            "the process plug-in refused the image " + image + " (code " + std::to_string(result)
                + ")");
    }
    if (options.scriptLimit)
        proc->PreVemoMessage(context, VEMO_PM_RUN_LIMIT,
            static_cast<unsigned int>(options.scriptLimit * 1000), nullptr);
    proc->DeviceMsgLoop(context);
    auto* watch = g_pWatch = new NodeWatch;
    if (!watch->Start(error))
        console->Line("note: no uevent listener of its own (" + error
            + "): a board refused for lack of permission cannot be told apart");

    console->Line("image " + image + " loaded; plug in boards in FEL"
        + (options.count ? " (" + std::to_string(options.count) + " to flash)" : std::string())
        + ", Ctrl-C to end");

    int handled = 0;
    bool forced = false;
    int probeBoard = 0;
    Clock::time_point probeAt;
    Clock::time_point nextTick = Clock::now() + kTick;
    for (;;) {
        pollfd wake {InterruptFd(), POLLIN, 0};
        poll(&wake, 1, kLoopMs);
        const int interruptions = Interruptions();
        if (interruptions != handled) {
            DrainInterrupts();
            if (interruptions >= 2) {
                boards->CutOff();
                forced = true;
                break;
            }
            boards->Interrupt();
            handled = interruptions;
        }
        if (const int board = boards->TakeUnreadableArrival()) {
            probeBoard = board;
            probeAt = Clock::now() + kProbeDelay;
        }
        if (probeBoard && Clock::now() >= probeAt) {
            ExplainPermission(*console, *watch, probeBoard, folder);
            probeBoard = 0;
        }
        if (Clock::now() >= nextTick) {
            boards->Tick();
            nextTick = Clock::now() + kTick;
        }
        if (!probeBoard && boards->Done())
            break;
    }
    const int status = boards->Finish();
    console->Stop();
    if (forced) {
        // Scripts still run: the plug-in's teardown must not run under them.
        std::fflush(stdout);
        if (log)
            std::fflush(log);
        _exit(status);
    }
    return status;
}
