// A uevent as the simulator sent it, and the parser tests read sockets with
// (part of sim/SimDevice.h).
#pragma once

#include <cstddef>
#include <string>

namespace simdev {

#pragma GCC visibility push(default) // exported by libvemora_simdev.so

// One uevent as emitted: the raw datagram and its parsed parts.
struct Uevent {
    std::string raw; // "ACTION@DEVPATH\0KEY=VALUE\0..."
    std::string action;
    std::string devpath;
    std::string Get(const std::string& key) const; // "" when absent
};

// Splits a datagram into a Uevent, bounded by its length; false when it is
// not a uevent (no "@" header).
bool ParseUevent(const void* data, size_t length, Uevent& out);

#pragma GCC visibility pop

} // namespace simdev
