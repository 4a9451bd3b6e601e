// Bus and board options from VEMORA_SIM_* variables, for a process that meets
// the simulated device without code of its own (part of sim/SimDevice.h).
#pragma once

#include "bus/Bus.h"

#include <chrono>
#include <string>
#include <vector>

namespace simdev {

// Board and bus options from VEMORA_SIM_* variables (see
// docs/simulated-device.md); `error` names the first bad value.
struct EnvConfig {
    BusOptions bus;
    BoardOptions board;
    unsigned boards = 1;
    std::chrono::milliseconds plug_delay {500};
    std::chrono::milliseconds plug_interval {2000};
    std::chrono::milliseconds fes_idle_unplug {0};
    std::chrono::milliseconds fel_idle_unplug {0};
    // The boards (numbered from 1) that get `board`'s faults, open error and
    // FES return; the others are sound. Empty: every board.
    std::vector<unsigned> faulty;
};

#pragma GCC visibility push(default) // exported by libvemora_simdev.so

bool ConfigFromEnvironment(EnvConfig& config, std::string& error);
// The options of board number n (from 1) of the configuration.
BoardOptions BoardFor(const EnvConfig& config, unsigned n);
// Parses a VEMORA_SIM_FAULTS value ("unplug@fes:65536,fail-request:12").
bool ParseFaults(const std::string& text, std::vector<Fault>& faults, std::string& error);

#pragma GCC visibility pop

} // namespace simdev
