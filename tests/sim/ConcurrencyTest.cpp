// Boards driven from session threads while the test plugs, pulls and makes
// noise on the same bus: every session sees good answers until its board is
// pulled and failures after, nothing hangs, and the events stay one burst
// per arrival and departure with SEQNUM rising by one.
#include "SimSupport.h"

#include <atomic>
#include <map>
#include <thread>

namespace {

using simdev::Stage;

struct SessionLog {
    int good = 0;
    int failed_after_pull = 0;
    int failed_on_bus = 0; // must stay 0
    int wrong_data = 0;    // must stay 0
};

// Write and read back a pattern in FEL until the board is pulled.
void FelSession(simdev::Board& board, const std::string& node, std::atomic<bool>& pulled,
    SessionLog& log, uint8_t seed)
{
    Host host(node);
    if (!host.Open()) {
        ++log.failed_on_bus;
        return;
    }
    std::vector<uint8_t> data(4096);
    for (int round = 0; round < 2000 && !board.Gone(); ++round) {
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(seed + round + i);
        const bool was_pulled = pulled.load();
        std::vector<uint8_t> back(data.size());
        const int down = host.FelDown(0x10000, data);
        const int up = down == 0 ? host.FelUp(0x10000, back) : down;
        if (down == 0 && up == 0) {
            ++log.good;
            log.wrong_data += back != data;
        } else if (was_pulled || pulled.load()) {
            ++log.failed_after_pull;
            break;
        } else {
            ++log.failed_on_bus;
            break;
        }
    }
}

TEST(Concurrency, SessionsRunWhileTheBusPlugsPullsAndMakesNoise)
{
    simdev::BusOptions options;
    options.noise = true;
    options.seed = 11;
    simdev::Bus bus(options);
    simdev::BoardOptions quick;
    quick.fes_delay = 0ms;

    constexpr int kBoards = 3;
    std::vector<std::shared_ptr<simdev::Board>> boards;
    std::vector<std::atomic<bool>> pulled(kBoards);
    std::vector<SessionLog> logs(kBoards);
    std::vector<std::thread> sessions;
    for (int i = 0; i < kBoards; ++i) {
        boards.push_back(bus.Plug(quick));
        ASSERT_TRUE(boards.back());
        sessions.emplace_back(FelSession, std::ref(*boards.back()), boards.back()->NodePath(),
            std::ref(pulled[i]), std::ref(logs[i]), static_cast<uint8_t>(i));
    }
    // Meanwhile: a board running its second stage, noise, and pulls.
    auto runner = bus.Plug(quick);
    ASSERT_TRUE(runner);
    std::thread to_fes([&] { BringToFes(*runner); });
    for (int i = 0; i < kBoards; ++i) {
        std::this_thread::sleep_for(20ms);
        bus.EmitNoise();
        pulled[i] = true;
        bus.Unplug(*boards[i]);
    }
    for (auto& session : sessions)
        session.join();
    to_fes.join();
    EXPECT_EQ(runner->CurrentStage(), Stage::Fes);
    bus.Unplug(*runner);

    for (int i = 0; i < kBoards; ++i) {
        EXPECT_GT(logs[i].good, 0) << "board " << i;
        EXPECT_EQ(logs[i].failed_on_bus, 0) << "board " << i;
        EXPECT_EQ(logs[i].wrong_data, 0) << "board " << i;
        EXPECT_TRUE(boards[i]->Gone());
    }

    // One add and one remove burst per node, SEQNUM rising by one throughout.
    std::map<std::string, std::string> node_actions;
    const auto events = bus.Events();
    for (size_t i = 0; i < events.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(
                std::stoull(events[i].Get("SEQNUM")), std::stoull(events[i - 1].Get("SEQNUM")) + 1);
        }
        const std::string name = events[i].Get("DEVNAME");
        if (name.find("qx_efex") != std::string::npos)
            node_actions[name] += events[i].action + " ";
    }
    ASSERT_EQ(node_actions.size(), size_t {kBoards + 2}); // the runner has a FEL and a FES node
    for (const auto& [name, actions] : node_actions)
        EXPECT_EQ(actions, "add remove ") << name;
}

} // namespace
