// The hot-plug monitor's reading of uevents (DeviceMessage/HotPlugInfo.h):
// the kernel's own event formats from the simulated bus, the matching rule's
// edge cases, and datagrams at the receive buffer's limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceMessage/HotPlugInfo.h"
#include "SimDevice.h"

namespace {

// What the monitor reports after each datagram: "in /dev/x", "out /dev/x", "".
std::vector<std::string> Reports(const std::vector<std::string>& datagrams)
{
    Dev_Detch_Info record {};
    HotPlugLines lines;
    std::vector<std::string> reports;
    for (const std::string& datagram : datagrams) {
        SplitEvent(datagram.data(), datagram.size(), lines);
        GetDevDetchInfo(lines, &record);
        char path[HOTPLUG_PATH_SIZE];
        reports.push_back(MatchTargetNode(record, path)
                ? (record.bPlugIn ? "in " : "out ") + std::string(path)
                : "");
    }
    return reports;
}

std::vector<std::string> NonEmpty(const std::vector<std::string>& reports)
{
    std::vector<std::string> kept;
    for (const auto& r : reports) {
        if (!r.empty())
            kept.push_back(r);
    }
    return kept;
}

// One event in the kernel's form: header, then KEY=VALUE lines, each ended
// by a NUL byte.
std::string Event(const std::string& action, const std::vector<std::string>& keys)
{
    std::string raw = action + "@/devices/pci0000:00/usb1/1-1";
    raw += '\0';
    if (!action.empty())
        raw += "ACTION=" + action + '\0';
    for (const auto& key : keys)
        raw += key + '\0';
    return raw;
}

const std::string kDevice = "PRODUCT=1f3a/efe8/2b3";
const std::string kInterface = "MODALIAS=usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF";
const std::string kNode = "DEVNAME=qx_efex0";

TEST(HotPlugInfo, KernelEventsOfTheBusGiveOneReportPerArrivalAndDeparture)
{
    for (uint64_t seed = 1; seed <= 10; ++seed) {
        simdev::BusOptions options;
        options.noise = true;
        options.seed = seed;
        simdev::Bus bus(options);
        auto board = bus.Plug();
        bus.EmitNoise();
        bus.Unplug(*board);
        std::vector<std::string> datagrams;
        for (const auto& event : bus.Events())
            datagrams.push_back(event.raw);
        EXPECT_EQ((std::vector<std::string> {"in /dev/qx_efex0", "out /dev/qx_efex0"}),
            NonEmpty(Reports(datagrams)))
            << "seed " << seed;
    }
}

TEST(HotPlugInfo, MatchingRule)
{
    struct Case {
        const char* what;
        std::vector<std::string> events;
        std::string last; // report after the last event
    };
    const Case cases[] = {
        {"arrival burst",
            {Event("add", {kDevice}), Event("add", {kInterface}), Event("add", {kNode})},
            "in /dev/qx_efex0"},
        {"another release", {Event("add", {"PRODUCT=1f3a/efe8/100"}), Event("add", {kNode})},
            "in /dev/qx_efex0"},
        {"another product", {Event("add", {"PRODUCT=1f3a/efe9/2b3"}), Event("add", {kNode})}, ""},
        {"modalias of another release",
            {Event("add", {"MODALIAS=usb:v1F3ApEFE8d0100dc00"}), Event("add", {kNode})},
            "in /dev/qx_efex0"},
        {"modalias of another product",
            {Event("add", {"MODALIAS=usb:v1F3ApEFE9d02B3dc00"}), Event("add", {kNode})}, ""},
        {"node of another driver",
            {Event("add", {kDevice, kInterface}), Event("add", {"DEVNAME=bus/usb/001/005"})}, ""},
        {"departure clears the fields",
            {Event("add", {kDevice}), Event("add", {kInterface}), Event("remove", {}),
                Event("remove", {kNode})},
            "out /dev/qx_efex0"},
        {"two adds keep the fields", {Event("add", {kDevice}), Event("add", {kNode})},
            "in /dev/qx_efex0"},
        {"no ACTION changes nothing else",
            {Event("remove", {kNode}), Event("", {"PRODUCT=1f3a/efe9/2b3"})}, ""},
        {"no ACTION keeps the action",
            {Event("add", {"PRODUCT=1f3a/efe9/2b3"}), Event("", {kDevice, kNode})},
            "in /dev/qx_efex0"},
        {"long value cut to its field",
            {Event("add", {"DEVNAME=qx_efex0123456789012345678901234567890"})},
            "in /dev/qx_efex012345678901234567890123"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.last, Reports(c.events).back()) << c.what;
}

TEST(HotPlugInfo, ReadsNoByteBeyondTheLengthReceived)
{
    // A full 4096-byte datagram without a final NUL, followed in memory by
    // bytes that must not be read.
    std::string buffer = Event("add", {kDevice, kInterface});
    const std::string tail = "DEVNAME=qx_efex7";
    buffer += std::string(HOTPLUG_EVENT_SIZE - buffer.size() - tail.size(), 'x');
    buffer[buffer.size() - 1] = '\0';
    buffer += tail;
    ASSERT_EQ(HOTPLUG_EVENT_SIZE, buffer.size());
    const std::string memory = buffer + "9999";
    HotPlugLines lines;
    SplitEvent(memory.data(), HOTPLUG_EVENT_SIZE, lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_STREQ("DEVNAME=qx_efex7", lines.back().szLine);
    EXPECT_EQ(1023u, std::strlen(lines[lines.size() - 2].szLine)) << "a long piece is cut";
    Dev_Detch_Info record {};
    GetDevDetchInfo(lines, &record);
    char path[HOTPLUG_PATH_SIZE];
    ASSERT_TRUE(MatchTargetNode(record, path));
    EXPECT_STREQ("/dev/qx_efex7", path);
}

TEST(HotPlugInfo, PrefixAndFieldLookups)
{
    EXPECT_TRUE(PrefixStrCmp("", "anything", 10));
    EXPECT_TRUE(PrefixStrCmp("1f3a/efe8/2b3", "1f3a/efe8/100", 10));
    EXPECT_FALSE(PrefixStrCmp("1f3a/efe8/2b3", "1f3a/efe8/100", 11));
    EXPECT_TRUE(PrefixStrCmp("usb:v1F3A", "usb:v1F3ApEFE8d", 15));
    EXPECT_FALSE(PrefixStrCmp("abc", "abd", 3));
    const std::string raw = Event("add", {kDevice});
    HotPlugLines lines;
    SplitEvent(raw.data(), raw.size(), lines);
    EXPECT_EQ(1, CheckField(lines, "ACTION="));
    EXPECT_EQ(2, CheckField(lines, "PRODUCT="));
    EXPECT_EQ(-1, CheckField(lines, "DEVNAME="));
}

} // namespace
