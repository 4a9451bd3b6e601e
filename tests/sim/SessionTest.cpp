// A board through a whole run as the host sees it: FEL session, the stage
// change with its uevents, then a FES session writing and reading flash.
#include "SimSupport.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using simdev::Stage;

constexpr uint32_t kPayloadAt = 0x40000000;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

TEST(Session, ArrivalBurstIsTheKernelsForAUsbDeviceWithItsDriver)
{
    Listener listener;
    ASSERT_GE(listener.fd(), 0);
    simdev::Bus bus;
    auto board = bus.Plug();
    ASSERT_TRUE(board);
    EXPECT_EQ(board->NodePath(), "/dev/qx_efex0");

    std::vector<simdev::Uevent> events;
    simdev::Uevent event;
    while (events.size() < 5 && listener.Next(event))
        events.push_back(event);
    ASSERT_EQ(events.size(), 5u);
    const std::string dev = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";
    EXPECT_EQ(events[0].action + "@" + events[0].devpath, "add@" + dev);
    EXPECT_EQ(events[0].Get("DEVTYPE"), "usb_device");
    EXPECT_EQ(events[0].Get("PRODUCT"), "1f3a/efe8/2b3");
    EXPECT_EQ(events[1].devpath, dev + "/1-1:1.0");
    EXPECT_EQ(events[1].Get("MODALIAS"), "usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF");
    EXPECT_EQ(events[2].action, "add");
    EXPECT_EQ(events[2].Get("DEVNAME"), "qx_efex0");
    EXPECT_EQ(events[2].Get("SUBSYSTEM"), "qx_efex");
    EXPECT_EQ(events[2].Get("PRODUCT"), ""); // the node event has only the node's keys
    EXPECT_EQ(events[3].action + events[3].Get("DRIVER"), "bindqx_efex");
    EXPECT_EQ(events[4].action + events[4].Get("DRIVER"), "bindusb");
    // The kernel's layout: header, ACTION, DEVPATH, SUBSYSTEM first, SEQNUM last.
    const std::string& raw = events[2].raw;
    EXPECT_EQ(raw.back(), '\0');
    EXPECT_EQ(raw.compare(0, 4, "add@"), 0);
    EXPECT_NE(raw.find(std::string("\0ACTION=add\0DEVPATH=", 20)), std::string::npos);
    EXPECT_NE(raw.rfind(std::string("\0SEQNUM=", 8)), std::string::npos);
    for (size_t i = 1; i < events.size(); ++i)
        EXPECT_EQ(std::stoul(events[i].Get("SEQNUM")), std::stoul(events[i - 1].Get("SEQNUM")) + 1);
}

TEST(Session, FelRunLeavesTheBusAndReturnsInFesAsANewNodeKeepingPrivateData)
{
    Listener listener;
    simdev::Bus bus;
    auto board = bus.Plug();
    ASSERT_TRUE(board);
    listener.UntilNode("add");
    const std::string fel_node = board->NodePath();

    Host host(fel_node);
    ASSERT_TRUE(host.Open());
    std::vector<uint8_t> verify;
    ASSERT_EQ(host.Verify(verify), 0);
    EXPECT_EQ(std::memcmp(verify.data(), "QXUSBFEX", 8), 0);
    EXPECT_EQ(verify[16] | verify[17] << 8, 1); // stage_mode FEL
    EXPECT_EQ(verify[19], 8);                   // 256 bytes of private data
    const uint32_t priv = Le32(verify.data() + 20);

    // Private data: fresh id, then marked taken, as the session controller does.
    std::vector<uint8_t> area(256);
    ASSERT_EQ(host.FelUp(priv, area), 0);
    EXPECT_EQ(Le32(area.data()), 0xCCCCCCCCu);
    std::memset(area.data(), 0, 4);
    area[100] = 0x5A;
    ASSERT_EQ(host.FelDown(priv, area), 0);
    EXPECT_EQ(board->PrivateData(), area);

    // Download the second stage in the command layer's 32 KiB pieces.
    const auto stage = simdev::MakeSecondStage(Pattern(70000, 3));
    for (size_t at = 0; at < stage.size(); at += 32768) {
        const size_t n = std::min<size_t>(32768, stage.size() - at);
        ASSERT_EQ(host.FelDown(kPayloadAt + static_cast<uint32_t>(at),
                      std::vector<uint8_t>(stage.begin() + long(at), stage.begin() + long(at + n))),
            0);
    }
    std::vector<uint8_t> back(stage.size());
    ASSERT_EQ(host.FelUp(kPayloadAt, back), 0); // one transfer, many 512-byte receives
    EXPECT_EQ(back, stage);
    ASSERT_EQ(host.FelRun(kPayloadAt), 0);

    // Leaves: the node's remove comes first, then unbind and remove.
    auto gone = listener.UntilNode("remove");
    ASSERT_FALSE(gone.empty());
    EXPECT_EQ(gone.back().Get("DEVNAME"), "qx_efex0");
    simdev::Uevent event;
    std::vector<std::string> rest;
    for (int i = 0; i < 4 && listener.Next(event); ++i)
        rest.push_back(event.action + " " + event.Get("DEVTYPE"));
    EXPECT_EQ(rest,
        (std::vector<std::string> {"unbind usb_interface", "remove usb_interface",
            "unbind usb_device", "remove usb_device"}));
    EXPECT_NE(host.Verify(verify), 0); // the old node is dead: ENODEV

    // Back in FES as a new node, same port, new device number.
    auto back_in = listener.UntilNode("add");
    ASSERT_FALSE(back_in.empty());
    EXPECT_EQ(back_in.back().Get("DEVNAME"), "qx_efex1");
    EXPECT_EQ(back_in.front().devpath, "/devices/pci0000:00/0000:00:14.0/usb1/1-1");
    EXPECT_EQ(back_in.front().Get("DEVNUM"), "003"); // enumerated anew
    ASSERT_TRUE(board->WaitForStage(Stage::Fes, 2s));
    EXPECT_EQ(board->NodePath(), "/dev/qx_efex1");
    EXPECT_EQ(board->NodeHistory(), (std::vector<std::string> {fel_node, "/dev/qx_efex1"}));

    Host fes(board->NodePath());
    ASSERT_TRUE(fes.Open());
    ASSERT_EQ(fes.Verify(verify), 0);
    EXPECT_EQ(verify[16] | verify[17] << 8, 2);
    std::vector<uint8_t> kept(256);
    ASSERT_EQ(fes.FesTrans(0x00, priv, 0x20, kept.data(), 256), 0);
    EXPECT_EQ(kept, area); // private data survived; the rest of RAM did not
    EXPECT_EQ(board->ReadRam(kPayloadAt, 16), std::vector<uint8_t>(16, 0));
}

TEST(Session, FesWritesAndReadsFlashWithMarksAndAnswersItsQueries)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.flash_size = 8ull << 30; // sparse: costs only what is written
    auto board = bus.Plug(options);
    ASSERT_TRUE(board);
    BringToFes(*board);
    Host host(board->NodePath());
    ASSERT_TRUE(host.Open());

    // 70000 bytes at 5 GiB (selector low nibble 1 = bits 32..35): three
    // chunks, start mark on the first, finish mark on the last.
    auto image = Pattern(70000, 9);
    const uint64_t offset = (1ull << 32) + (1ull << 30);
    const uint32_t chunks[] = {32768, 32768, 4464};
    uint32_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const uint8_t marks = (i == 0 ? 0x40 : 0) | (i == 2 ? 0x80 : 0);
        ASSERT_EQ(
            host.FesTrans(0x11, (1u << 30) + at, 0x10 | marks, image.data() + at, chunks[i]), 0);
        at += chunks[i];
    }
    EXPECT_EQ(board->ReadFlash(offset, image.size()), image);
    EXPECT_EQ(board->ReadFlash(offset - 16, 16), std::vector<uint8_t>(16, 0));
    const auto transfers = board->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_TRUE(transfers[0].finished);
    EXPECT_EQ(transfers[0].offset, offset);
    EXPECT_EQ(transfers[0].length, image.size());

    std::vector<uint8_t> back(image.size());
    at = 0;
    for (uint32_t n : chunks) {
        ASSERT_EQ(host.FesTrans(0x11, (1u << 30) + at, 0x20, back.data() + at, n), 0);
        at += n;
    }
    EXPECT_EQ(back, image);

    // Beyond the end of flash, or an unknown selector: a failed FEX status.
    uint8_t small[16] = {};
    EXPECT_EQ(host.FesTrans(0x18, 0, 0x10, small, 16), 659);
    EXPECT_EQ(host.FesTrans(0x20, 0, 0x10, small, 16), 659);

    uint8_t info[32] = {};
    ASSERT_EQ(host.Command(Block(cmd::kFesInfo), info, 32), 0);
    EXPECT_EQ(std::memcmp(info, "VEMOINFO", 8), 0);
    uint64_t size = 0;
    std::memcpy(&size, info + 8, 8);
    EXPECT_EQ(size, 8ull << 30);
    uint8_t ready[20] = {};
    ASSERT_EQ(host.Command(Block(cmd::kIsReady), ready, 20), 0);
    EXPECT_EQ(ready[0], 1);
    EXPECT_EQ(ready[2], 2);
    uint8_t version[16] = {};
    ASSERT_EQ(host.Command(Block(cmd::kCmdSetVer), version, 16), 0);
    EXPECT_EQ(version[0], 1);
    std::vector<char> message(1024);
    ASSERT_EQ(host.Command(Block(cmd::kFesGetMsg, 1024), message.data(), 1024), 0);
    EXPECT_NE(std::string(message.data()).find("wrote 70000 bytes at 0x140000000 of flash"),
        std::string::npos)
        << message.data();
    ASSERT_EQ(host.Command(Block(cmd::kFesGetMsg, 1024), message.data(), 1024), 0);
    EXPECT_STREQ(message.data(), ""); // handed out once

    // FES_RUN with run_flag set: the board reboots and is gone for good.
    uint8_t params[4] = {1, 2, 3, 4};
    ASSERT_EQ(host.Command(Block(cmd::kFesRun, 0x4A000000).Byte(8, 0x11), params, 4), 0);
    ASSERT_TRUE(board->WaitGone(2s));
    ASSERT_EQ(board->FesRuns().size(), 1u);
    EXPECT_EQ(board->FesRuns()[0].run_byte, 0x11);
    EXPECT_EQ(board->FesRuns()[0].params, std::vector<uint8_t>({1, 2, 3, 4}));
}

TEST(Session, RamSelectorAndUnmarkedChunksMakeOneRecord)
{
    simdev::Bus bus;
    auto board = bus.Plug();
    BringToFes(*board);
    Host host(board->NodePath());
    auto data = Pattern(40000, 1);
    ASSERT_EQ(host.FesTrans(0x00, 0x1000, 0x10, data.data(), 32768), 0);
    ASSERT_EQ(host.FesTrans(0x00, 0x1000 + 32768, 0x10, data.data() + 32768, 40000 - 32768), 0);
    EXPECT_EQ(board->ReadRam(0x1000, 40000), data);
    const auto transfers = board->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_FALSE(transfers[0].finished);
    EXPECT_EQ(transfers[0].length, 40000u);
}

TEST(Session, FlashFileIsSparseAndGoesAsItsModeSays)
{
    std::string temporary, kept;
    {
        simdev::Bus bus;
        simdev::BoardOptions options;
        options.flash_size = 16ull << 30;
        auto board = bus.Plug(options);
        temporary = board->FlashPath();
        struct stat st { };
        ASSERT_EQ(stat(temporary.c_str(), &st), 0);
        EXPECT_EQ(uint64_t(st.st_size), 16ull << 30);
        EXPECT_LT(uint64_t(st.st_blocks) * 512, 1ull << 20); // nothing written, nothing used

        options.flash_file = simdev::FlashFile::Kept;
        kept = bus.Plug(options)->FlashPath();
        options.flash_file = simdev::FlashFile::Unnamed;
        auto unnamed = bus.Plug(options);
        EXPECT_EQ(unnamed->FlashPath(), "");
        EXPECT_EQ(unnamed->ReadFlash(0, 4), std::vector<uint8_t>(4, 0));

        // A board pulled from a bus that goes on takes its file along with
        // its last handle.
        options.flash_file = simdev::FlashFile::Temporary;
        auto pulled = bus.Plug(options);
        const std::string path = pulled->FlashPath();
        bus.Unplug(*pulled);
        pulled.reset();
        EXPECT_NE(access(path.c_str(), F_OK), 0) << path;
    }
    EXPECT_NE(access(temporary.c_str(), F_OK), 0);
    EXPECT_EQ(access(kept.c_str(), F_OK), 0);
    unlink(kept.c_str());
}

} // namespace
