#include "UeventText.h"

#include "Uevent.h"

#include <cstdio>
#include <cstring>

namespace simdev {
namespace {

constexpr const char* kHub = "/devices/pci0000:00/0000:00:14.0/usb1";
constexpr const char* kHub2 = "/devices/pci0000:00/0000:00:14.0/usb2";
constexpr const char* kProduct = "1f3a/efe8/2b3";
constexpr const char* kModalias = "usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF";
constexpr unsigned kNodeMajor = 234; // the driver's dynamic character major

std::string Num3(unsigned n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03u", n % 1000);
    return text;
}

std::string DevicePath(const UsbPlace& place)
{
    return std::string(kHub) + "/1-" + std::to_string(place.port);
}

std::string InterfacePath(const UsbPlace& place)
{
    return DevicePath(place) + "/1-" + std::to_string(place.port) + ":1.0";
}

UeventFields UsbDevice(const std::string& action, const UsbPlace& place, bool driver)
{
    UeventFields e {action, DevicePath(place), {}};
    e.keys = {{"SUBSYSTEM", "usb"}, {"MAJOR", "189"}, {"MINOR", std::to_string(place.devnum - 1)},
        {"DEVNAME", "bus/usb/001/" + Num3(place.devnum)}, {"DEVTYPE", "usb_device"}};
    if (driver)
        e.keys.push_back({"DRIVER", "usb"});
    e.keys.insert(e.keys.end(),
        {{"PRODUCT", kProduct}, {"TYPE", "0/0/0"}, {"BUSNUM", "001"},
            {"DEVNUM", Num3(place.devnum)}});
    return e;
}

UeventFields UsbInterface(const std::string& action, const UsbPlace& place, bool driver)
{
    UeventFields e {
        action, InterfacePath(place), {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}}};
    if (driver)
        e.keys.push_back({"DRIVER", "qx_efex"});
    e.keys.insert(e.keys.end(),
        {{"PRODUCT", kProduct}, {"TYPE", "0/0/0"}, {"INTERFACE", "255/255/255"},
            {"MODALIAS", kModalias}});
    return e;
}

UeventFields Node(const std::string& action, const UsbPlace& place)
{
    const std::string name = "qx_efex" + std::to_string(place.minor);
    return {action, InterfacePath(place) + "/qx_efex/" + name,
        {{"SUBSYSTEM", "qx_efex"}, {"MAJOR", std::to_string(kNodeMajor)},
            {"MINOR", std::to_string(place.minor)}, {"DEVNAME", name}}};
}

} // namespace

std::string ComposeUevent(const UeventFields& fields, uint64_t seqnum)
{
    std::string text = fields.action + "@" + fields.devpath;
    text.push_back('\0');
    auto add = [&](const std::string& key, const std::string& value) {
        text += key + "=" + value;
        text.push_back('\0');
    };
    add("ACTION", fields.action);
    add("DEVPATH", fields.devpath);
    for (const auto& [key, value] : fields.keys)
        add(key, value);
    add("SEQNUM", std::to_string(seqnum));
    return text;
}

std::vector<UeventFields> ArrivalBurst(const UsbPlace& place)
{
    return {UsbDevice("add", place, false), UsbInterface("add", place, false), Node("add", place),
        UsbInterface("bind", place, true), UsbDevice("bind", place, true)};
}

std::vector<UeventFields> DepartureBurst(const UsbPlace& place)
{
    return {Node("remove", place), UsbInterface("unbind", place, false),
        UsbInterface("remove", place, false), UsbDevice("unbind", place, false),
        UsbDevice("remove", place, false)};
}

UeventFields QuietNoise(std::mt19937_64& rng)
{
    if (rng() % 2)
        return {"change", "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0",
            {{"SUBSYSTEM", "power_supply"}, {"POWER_SUPPLY_NAME", "BAT0"},
                {"POWER_SUPPLY_STATUS", "Discharging"},
                {"POWER_SUPPLY_CAPACITY", std::to_string(5 + rng() % 95)}}};
    const unsigned loop = static_cast<unsigned>(rng() % 8);
    return {"change", "/devices/virtual/block/loop" + std::to_string(loop),
        {{"SUBSYSTEM", "block"}, {"MAJOR", "7"}, {"MINOR", std::to_string(loop)},
            {"DEVNAME", "loop" + std::to_string(loop)}, {"DEVTYPE", "disk"},
            {"DISKSEQ", std::to_string(10 + rng() % 90)}}};
}

std::vector<UeventFields> NoiseBurst(std::mt19937_64& rng)
{
    if (rng() % 3)
        return {QuietNoise(rng)};
    // A storage stick on the controller's SuperSpeed bus (usb2), so that it
    // never takes a board's port or device number on usb1.
    const std::string dev = std::string(kHub2) + "/2-1";
    const std::string intf = dev + "/2-1:1.0";
    const unsigned number = 2 + static_cast<unsigned>(rng() % 40);
    const std::string devnum = Num3(number);
    const std::string minor = std::to_string(128 + number - 1);
    const std::vector<std::pair<std::string, std::string>> usb
        = {{"PRODUCT", "781/5567/100"}, {"TYPE", "0/0/0"}};
    std::vector<UeventFields> burst;
    burst.push_back({"add", dev,
        {{"SUBSYSTEM", "usb"}, {"MAJOR", "189"}, {"MINOR", minor},
            {"DEVNAME", "bus/usb/002/" + devnum}, {"DEVTYPE", "usb_device"}, usb[0], usb[1],
            {"BUSNUM", "002"}, {"DEVNUM", devnum}}});
    burst.push_back({"add", intf,
        {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}, usb[0], usb[1],
            {"INTERFACE", "8/6/80"},
            {"MODALIAS", "usb:v0781p5567d0100dc00dsc00dp00ic08isc06ip50in00"}}});
    burst.push_back({"add", intf + "/host6/target6:0:0/6:0:0:0/block/sdb",
        {{"SUBSYSTEM", "block"}, {"MAJOR", "8"}, {"MINOR", "16"}, {"DEVNAME", "sdb"},
            {"DEVTYPE", "disk"}, {"DISKSEQ", std::to_string(100 + rng() % 100)}}});
    burst.push_back({"bind", intf,
        {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}, {"DRIVER", "usb-storage"}, usb[0],
            usb[1], {"INTERFACE", "8/6/80"},
            {"MODALIAS", "usb:v0781p5567d0100dc00dsc00dp00ic08isc06ip50in00"}}});
    burst.push_back({"bind", dev,
        {{"SUBSYSTEM", "usb"}, {"MAJOR", "189"}, {"MINOR", minor},
            {"DEVNAME", "bus/usb/002/" + devnum}, {"DEVTYPE", "usb_device"}, {"DRIVER", "usb"},
            usb[0], usb[1], {"BUSNUM", "002"}, {"DEVNUM", devnum}}});
    return burst;
}

std::string Uevent::Get(const std::string& key) const
{
    const std::string prefix = key + "=";
    size_t pos = raw.find('\0');
    while (pos != std::string::npos && pos + 1 < raw.size()) {
        const size_t start = pos + 1;
        const size_t end = raw.find('\0', start);
        const size_t stop = end == std::string::npos ? raw.size() : end;
        if (raw.compare(start, prefix.size(), prefix) == 0 && prefix.size() <= stop - start)
            return raw.substr(start + prefix.size(), stop - start - prefix.size());
        pos = end;
    }
    return {};
}

bool ParseUevent(const void* data, size_t length, Uevent& out)
{
    const char* text = static_cast<const char*>(data);
    const char* end = text + length;
    const char* header_end = static_cast<const char*>(std::memchr(text, '\0', length));
    const std::string header(text, header_end ? header_end : end);
    const size_t at = header.find('@');
    if (at == std::string::npos || at == 0)
        return false;
    out.raw.assign(text, length);
    out.action = header.substr(0, at);
    out.devpath = header.substr(at + 1);
    return true;
}

} // namespace simdev
