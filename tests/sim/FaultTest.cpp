// Scripted faults and scenarios: each is seen by the host as from a real
// board, through usbwire.dll, and by a uevent listener.
#include "SimSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using simdev::Fault;
using simdev::Stage;

std::shared_ptr<simdev::Board> PlugWith(simdev::Bus& bus, Fault fault)
{
    simdev::BoardOptions options;
    options.faults.push_back(fault);
    return bus.Plug(options);
}

TEST(Faults, FailedDriverRequestIsTheTransportsSendOrReceiveError)
{
    simdev::Bus bus;
    // Requests of a verify: 1 block, 2 command, 3 reply, 4 block, 5 data, ...
    auto board = PlugWith(bus, Fault {Fault::FailRequest, 5, std::nullopt, ETIMEDOUT});
    std::vector<uint8_t> record;
    {
        Host host(board->NodePath());
        EXPECT_EQ(host.Verify(record), 272); // Fex_Recv of the data phase
    }
    Host again(board->NodePath()); // a new session starts clean
    EXPECT_EQ(again.Verify(record), 0);
}

TEST(Faults, WrongMagicOrNonZeroStatusInTheStatusReply)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.faults = {Fault {Fault::BadStatusMagic, 1}, Fault {Fault::BadStatus, 4}};
    auto board = bus.Plug(options);
    std::vector<uint8_t> record;
    EXPECT_EQ(Host(board->NodePath()).Verify(record), 364); // first reply says "QXUX"
    EXPECT_EQ(Host(board->NodePath()).Verify(record), 364); // fourth transfer: status 1
    EXPECT_EQ(Host(board->NodePath()).Verify(record), 0);
}

TEST(Faults, FailedFexStatusAndWrongVerifyMagic)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.faults = {Fault {Fault::FexStatusFail, 2}, Fault {Fault::BadVerifyMagic, 3}};
    auto board = bus.Plug(options);
    Host host(board->NodePath());
    std::vector<uint8_t> record;
    EXPECT_EQ(host.Verify(record), 0);
    EXPECT_EQ(host.FelDown(0x100, {1, 2, 3}), 659);
    EXPECT_EQ(board->ReadRam(0x100, 3), std::vector<uint8_t>(3, 0)); // not carried out
    EXPECT_EQ(host.Verify(record), 0);
    EXPECT_EQ(host.Verify(record), 434); // the third verify
    EXPECT_EQ(host.Verify(record), 0);
}

TEST(Faults, UnpluggedMidTransferFailsWithNoDeviceThenDepartureEvents)
{
    Listener listener;
    simdev::Bus bus;
    // The second data-phase request in FES: the flash chunk after its command block.
    auto board = PlugWith(bus, Fault {Fault::Unplug, 2, Stage::Fes});
    listener.UntilNode("add");
    BringToFes(*board);
    listener.UntilNode("remove");
    listener.UntilNode("add");
    Host host(board->NodePath());
    std::vector<uint8_t> data(32768, 0x77);
    testing::internal::CaptureStderr();
    const int result = host.FesTrans(0x10, 0, 0x10, data.data(), 32768);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 200);
    EXPECT_NE(log.find("No such device"), std::string::npos) << log;
    auto gone = listener.UntilNode("remove");
    ASSERT_FALSE(gone.empty());
    EXPECT_EQ(gone.back().Get("DEVNAME"), "qx_efex1");
    EXPECT_TRUE(board->WaitGone(2s));
    Host reopen("/dev/qx_efex1");
    EXPECT_EQ(reopen.opened(), 74);
}

TEST(Faults, BoardThatNeverComesBackInFes)
{
    Listener listener;
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.returns_in_fes = false;
    options.fes_delay = 50ms;
    auto board = bus.Plug(options);
    listener.UntilNode("add");
    const auto stage = simdev::MakeSecondStage({9, 9, 9});
    Host host(board->NodePath());
    ASSERT_EQ(host.FelDown(0x8000, stage), 0);
    ASSERT_EQ(host.FelRun(0x8000), 0);
    EXPECT_FALSE(listener.UntilNode("remove").empty());
    EXPECT_TRUE(board->WaitGone(1s));
    simdev::Uevent event;
    while (listener.Next(event, 300ms))
        EXPECT_NE(event.action, "add");
}

TEST(Faults, BoardThatComesBackLate)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.fes_delay = 700ms;
    auto board = bus.Plug(options);
    const auto start = std::chrono::steady_clock::now();
    BringToFes(*board, 5s);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 700ms);
}

TEST(Faults, PulledWhileAwayNeverReturns)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.fes_delay = 300ms;
    auto board = bus.Plug(options);
    const auto stage = simdev::MakeSecondStage({1});
    Host host(board->NodePath());
    ASSERT_EQ(host.FelDown(0x8000, stage), 0);
    ASSERT_EQ(host.FelRun(0x8000), 0);
    ASSERT_TRUE(board->WaitOffBus(1s));
    bus.Unplug(*board);
    EXPECT_TRUE(board->Gone());
    EXPECT_FALSE(board->WaitForStage(Stage::Fes, 600ms));
}

TEST(Faults, SlowLinkCostsLatencyPerTransferAndBandwidthPerByte)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.link = simdev::LinkModel {2000, 4'000'000}; // 2 ms, 4 MB/s
    auto board = bus.Plug(options);
    Host host(board->NodePath());
    std::vector<uint8_t> data(32768);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) // 4 commands: 12 transfers, 128 KiB
        ASSERT_EQ(host.FelDown(0x1000, data), 0);
    // 24 ms of latency and 32 ms of bytes at least.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_EQ(simdev::LinkModel::UsbHighSpeed().latency_us, 125u);
    EXPECT_EQ(simdev::LinkModel::UsbHighSpeed().bytes_per_second, 40'000'000u);
}

TEST(Scenarios, SeveralBoardsOneAfterAnother)
{
    Listener listener;
    simdev::Bus bus;
    std::vector<std::string> nodes;
    for (int i = 0; i < 3; ++i) {
        auto board = bus.Plug();
        const auto seen = listener.UntilNode("add");
        ASSERT_FALSE(seen.empty());
        const auto device = std::find_if(seen.begin(), seen.end(), [](const simdev::Uevent& e) {
            return e.action == "add" && e.Get("DEVTYPE") == "usb_device";
        });
        ASSERT_NE(device, seen.end());
        nodes.push_back(seen.back().Get("DEVNAME") + " " + device->devpath);
        Host host(board->NodePath());
        std::vector<uint8_t> record;
        EXPECT_EQ(host.Verify(record), 0);
        bus.Unplug(*board);
        EXPECT_FALSE(listener.UntilNode("remove").empty());
    }
    const std::string hub = "/devices/pci0000:00/0000:00:14.0/usb1/";
    EXPECT_EQ(nodes,
        (std::vector<std::string> {
            "qx_efex0 " + hub + "1-1", "qx_efex1 " + hub + "1-2", "qx_efex2 " + hub + "1-3"}));
}

TEST(Scenarios, SameSeedSameEventsNoiseIncluded)
{
    auto run = [](uint64_t seed) {
        simdev::BusOptions options;
        options.seed = seed;
        options.noise = true;
        simdev::Bus bus(options);
        auto board = bus.Plug();
        bus.EmitNoise();
        bus.EmitNoise();
        bus.Unplug(*board);
        std::vector<std::string> raw;
        for (const auto& event : bus.Events())
            raw.push_back(event.raw);
        return raw;
    };
    const auto first = run(42);
    EXPECT_EQ(first, run(42));
    EXPECT_NE(first, run(43));
    EXPECT_GT(first.size(), 10u); // the board's ten and some noise
}

TEST(Scenarios, NoiseNeverLooksLikeTheBoard)
{
    simdev::BusOptions options;
    options.noise = true;
    options.seed = 7;
    simdev::Bus bus(options);
    for (int i = 0; i < 20; ++i)
        bus.EmitNoise();
    for (const auto& event : bus.Events()) {
        EXPECT_EQ(event.Get("DEVNAME").find("qx_efex"), std::string::npos);
        EXPECT_EQ(event.Get("PRODUCT").find("1f3a/efe8"), std::string::npos);
        // Nor does it take a board's place: boards sit on usb1.
        EXPECT_EQ(event.devpath.find("/usb1/"), std::string::npos) << event.devpath;
        EXPECT_EQ(event.Get("DEVNAME").find("bus/usb/001/"), std::string::npos);
    }
}

TEST(Scenarios, DrawnFaultPointIsFixedBySeed)
{
    auto failing_verify = [](uint64_t seed) {
        simdev::BusOptions options;
        options.seed = seed;
        simdev::Bus bus(options);
        auto board = PlugWith(bus, Fault {Fault::FexStatusFail, 0});
        Host host(board->NodePath());
        std::vector<uint8_t> record;
        for (int i = 1; i <= 32; ++i)
            if (host.Verify(record) != 0)
                return i;
        return 0;
    };
    const int at = failing_verify(5);
    EXPECT_GE(at, 1);
    EXPECT_EQ(at, failing_verify(5));
}

} // namespace
