// The board's uevents against the hot-plug monitor's gathering rule: the
// fields of consecutive events with one action are gathered, a change of
// action clears them, and a node event matches on DEVNAME "qx_efex" with the
// product and modalias seen earlier in its burst (empty agrees with all).
// One arrival must give exactly one plug-in, one departure one plug-out,
// with or without unrelated events in between.
#include "SimSupport.h"

#include <cstring>

namespace {

struct Gathered {
    std::string action, product, modalias, devname;
    bool plug_in = false;
};

bool PrefixAgrees(const std::string& a, const std::string& b, size_t n)
{
    const size_t m = std::min({a.size(), b.size(), n});
    return a.compare(0, m, b, 0, m) == 0;
}

// What the monitor reports after each event: "in /dev/x", "out /dev/x" or "".
std::vector<std::string> Monitor(const std::vector<simdev::Uevent>& events)
{
    Gathered record;
    std::vector<std::string> reports;
    for (const auto& event : events) {
        const std::string action = event.Get("ACTION");
        if (!action.empty() && action != record.action) {
            record = Gathered {};
            record.plug_in = action == "add";
            record.action = action;
        }
        for (auto [key, field] : {std::pair {"PRODUCT", &record.product},
                 std::pair {"MODALIAS", &record.modalias}, std::pair {"DEVNAME", &record.devname}})
            if (event.raw.find(std::string(1, '\0') + key + "=") != std::string::npos)
                *field = event.Get(key);
        if (!record.devname.empty() && record.devname.find("qx_efex") != std::string::npos
            && PrefixAgrees("usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF", record.modalias, 15)
            && PrefixAgrees("1f3a/efe8/2b3", record.product, 10))
            reports.push_back((record.plug_in ? "in /dev/" : "out /dev/") + record.devname);
    }
    return reports;
}

TEST(MonitorRule, ArrivalRunAndReturnGiveOneReportEach)
{
    for (bool noise : {false, true}) {
        for (uint64_t seed = 1; seed <= (noise ? 20u : 1u); ++seed) {
            simdev::BusOptions options;
            options.noise = noise;
            options.seed = seed;
            simdev::Bus bus(options);
            simdev::BoardOptions quick;
            quick.fes_delay = 0ms;
            auto board = bus.Plug(quick);
            bus.EmitNoise();
            BringToFes(*board);
            bus.EmitNoise();
            bus.Unplug(*board);
            EXPECT_EQ(Monitor(bus.Events()),
                (std::vector<std::string> {"in /dev/qx_efex0", "out /dev/qx_efex0",
                    "in /dev/qx_efex1", "out /dev/qx_efex1"}))
                << "noise " << noise << " seed " << seed;
        }
    }
}

} // namespace
