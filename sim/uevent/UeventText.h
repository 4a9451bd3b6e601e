// Uevents in the kernel's own form: "ACTION@DEVPATH", then ACTION, DEVPATH,
// SUBSYSTEM, the device's own keys and SEQNUM, each ended by a NUL byte.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace simdev {

struct UeventFields {
    std::string action;
    std::string devpath;
    std::vector<std::pair<std::string, std::string>> keys; // SUBSYSTEM first
};

std::string ComposeUevent(const UeventFields& fields, uint64_t seqnum);

// Where a board sits on the bus.
struct UsbPlace {
    unsigned port = 0;   // root-hub port: DEVPATH ".../usb1/1-<port>"
    unsigned devnum = 0; // USB device number, new at every enumeration
    unsigned minor = 0;  // node "qx_efex<minor>"
};

// What Linux sends when a USB device with the eFex driver comes and goes:
// the device, its interface, the driver's node, then bind (or the reverse).
std::vector<UeventFields> ArrivalBurst(const UsbPlace& place);
std::vector<UeventFields> DepartureBurst(const UsbPlace& place);

// Unrelated devices: one event that can stand between a board's own
// (a battery or a loop device changing), or a whole storage-stick arrival.
UeventFields QuietNoise(std::mt19937_64& rng);
std::vector<UeventFields> NoiseBurst(std::mt19937_64& rng);

} // namespace simdev
