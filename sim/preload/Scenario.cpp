// The scenario of a process that has the simulator preloaded: when
// VEMORA_SIM_BOARDS is set, boards are plugged one after another once the
// process listens for uevents. Progress goes to standard error, prefixed
// "simdev: ".
#include "EnvConfig.h"
#include "board/BoardCore.h"
#include "uevent/UeventRoute.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace simdev {
namespace {

void Say(const std::string& text)
{
    std::fprintf(stderr, "simdev: %s\n", text.c_str());
}

void RunScenario(EnvConfig config)
{
    // Left alive to the end: the process may still talk to its boards while
    // it exits.
    // The scenario runs as long as the process: nothing of a board or event
    // gone is kept.
    config.bus.keep_events = false;
    auto* bus = new Bus(config.bus);
    if (!bus->Ok()) {
        Say("no bus: " + bus->Error());
        return;
    }
    if (config.bus.route == UeventRoute::Shim)
        while (!ShimWaitForListener(std::chrono::hours(1))) { }
    std::this_thread::sleep_for(config.plug_delay);
    for (unsigned n = 1; n <= config.boards; ++n) {
        auto board = bus->Plug(BoardFor(config, n));
        if (!board) {
            Say("board " + std::to_string(n) + " not plugged: " + bus->Error());
            return;
        }
        // Its first node: the host may have run it off the bus already.
        Say("board " + std::to_string(n) + " plugged in FEL at " + board->NodeHistory().front()
            + (board->FlashPath().empty() ? "" : ", flash in " + board->FlashPath()));
        bool in_fes = false;
        while (!board->WaitGone(std::chrono::milliseconds(100))) {
            if (!in_fes && board->OnBus() && board->CurrentStage() == Stage::Fes) {
                in_fes = true;
                Say("board " + std::to_string(n) + " back in FES at " + board->NodePath());
            }
            // The operator takes a board away once the host has let go of it.
            const std::chrono::milliseconds idle
                = in_fes ? config.fes_idle_unplug : config.fel_idle_unplug;
            if (idle.count() > 0 && board->OnBus() && board->Core()->IdleFor(idle)) {
                Say("board " + std::to_string(n) + " taken away after "
                    + std::to_string(idle.count()) + " ms idle in " + (in_fes ? "FES" : "FEL"));
                bus->Unplug(*board);
            }
        }
        Say("board " + std::to_string(n) + " gone");
        if (n < config.boards)
            std::this_thread::sleep_for(config.plug_interval);
    }
}

// The nodes answer only when the stand-in's open is the one the process
// calls, that is when it was preloaded itself and not merely loaded as our
// dependency (which comes after the C library).
bool StandInInFront()
{
    Dl_info info {};
    void* open_fn = dlsym(RTLD_DEFAULT, "open");
    return open_fn && dladdr(open_fn, &info) && info.dli_fname
        && std::strstr(info.dli_fname, "libvemora_simdrv") != nullptr;
}

__attribute__((constructor)) void StartFromEnvironment()
{
    if (!std::getenv("VEMORA_SIM_BOARDS"))
        return;
    if (!StandInInFront())
        Say("libvemora_simdrv.so is not preloaded: the boards' nodes will not open");
    EnvConfig config;
    std::string error;
    if (!ConfigFromEnvironment(config, error)) {
        Say("not started: " + error);
        return;
    }
    if (config.boards == 0)
        return;
    std::thread(RunScenario, config).detach();
}

} // namespace
} // namespace simdev
