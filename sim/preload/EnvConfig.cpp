// VEMORA_SIM_* variables to bus and board options, for a process that meets
// the simulated device without code of its own (see docs/simulated-device.md).
#include "EnvConfig.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace simdev {
namespace {

bool ParseNumber(const std::string& text, uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    value = parsed;
    return true;
}

// A byte count with an optional K, M or G (binary) suffix.
bool ParseSize(std::string text, uint64_t& value)
{
    uint64_t scale = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
            scale = 1ull << 10;
            break;
        case 'M':
            scale = 1ull << 20;
            break;
        case 'G':
            scale = 1ull << 30;
            break;
        default:
            break;
        }
        if (scale != 1)
            text.pop_back();
    }
    if (!ParseNumber(text, value) || value > UINT64_MAX / scale)
        return false;
    value *= scale;
    return true;
}

bool ParseErrno(const std::string& text, int& error)
{
    static const std::map<std::string, int> names
        = {{"EIO", EIO}, {"ENODEV", ENODEV}, {"ETIMEDOUT", ETIMEDOUT}, {"EPIPE", EPIPE},
            {"EPROTO", EPROTO}, {"EOVERFLOW", EOVERFLOW}, {"EACCES", EACCES}, {"EPERM", EPERM}};
    const auto it = names.find(text);
    if (it != names.end()) {
        error = it->second;
        return true;
    }
    uint64_t number;
    if (!ParseNumber(text, number) || number == 0 || number > 4095)
        return false;
    error = static_cast<int>(number);
    return true;
}

const char* Env(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

bool ParseFaults(const std::string& text, std::vector<Fault>& faults, std::string& error)
{
    static const std::map<std::string, Fault::Kind> kinds
        = {{"fail-request", Fault::FailRequest}, {"bad-status-magic", Fault::BadStatusMagic},
            {"bad-status", Fault::BadStatus}, {"fex-fail", Fault::FexStatusFail},
            {"bad-verify-magic", Fault::BadVerifyMagic}, {"unplug", Fault::Unplug}};
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        if (item.empty()) {
            if (comma == text.size())
                break;
            error = "empty fault in \"" + text + "\"";
            return false;
        }
        // kind[@fel|@fes][:at[:errno]]
        Fault fault;
        const size_t colon = item.find(':');
        std::string head = item.substr(0, colon);
        const size_t at_sign = head.find('@');
        if (at_sign != std::string::npos) {
            const std::string stage = head.substr(at_sign + 1);
            if (stage == "fel")
                fault.stage = Stage::Fel;
            else if (stage == "fes")
                fault.stage = Stage::Fes;
            else {
                error = "unknown stage \"" + stage + "\" in fault \"" + item + "\"";
                return false;
            }
            head.resize(at_sign);
        }
        const auto kind = kinds.find(head);
        if (kind == kinds.end()) {
            error = "unknown fault \"" + head + "\"";
            return false;
        }
        fault.kind = kind->second;
        if (colon != std::string::npos) {
            const std::string rest = item.substr(colon + 1);
            const size_t second = rest.find(':');
            if (!ParseNumber(rest.substr(0, second), fault.at)) {
                error = "bad count in fault \"" + item + "\"";
                return false;
            }
            if (second != std::string::npos
                && (fault.kind != Fault::FailRequest
                    || !ParseErrno(rest.substr(second + 1), fault.error))) {
                error = "bad error number in fault \"" + item + "\"";
                return false;
            }
        }
        faults.push_back(fault);
        if (comma == text.size())
            break;
    }
    return true;
}

bool ConfigFromEnvironment(EnvConfig& config, std::string& error)
{
    uint64_t number;
    auto number_of = [&](const char* name, uint64_t limit, auto&& store) {
        const char* value = Env(name);
        if (!value)
            return true;
        if (!ParseNumber(value, number) || number > limit) {
            error = std::string(name) + " is not a number up to " + std::to_string(limit) + ": \""
                + value + "\"";
            return false;
        }
        store(number);
        return true;
    };
    using ms = std::chrono::milliseconds;
    const uint64_t hour = 3'600'000;
    if (!number_of("VEMORA_SIM_BOARDS", 1000, [&](uint64_t n) { config.boards = unsigned(n); })
        || !number_of(
            "VEMORA_SIM_PLUG_DELAY_MS", hour, [&](uint64_t n) { config.plug_delay = ms(n); })
        || !number_of(
            "VEMORA_SIM_PLUG_INTERVAL_MS", hour, [&](uint64_t n) { config.plug_interval = ms(n); })
        || !number_of(
            "VEMORA_SIM_FES_DELAY_MS", hour, [&](uint64_t n) { config.board.fes_delay = ms(n); })
        || !number_of("VEMORA_SIM_FES_IDLE_UNPLUG_MS", hour,
            [&](uint64_t n) { config.fes_idle_unplug = ms(n); })
        || !number_of("VEMORA_SIM_FEL_IDLE_UNPLUG_MS", hour,
            [&](uint64_t n) { config.fel_idle_unplug = ms(n); })
        || !number_of("VEMORA_SIM_SEED", UINT64_MAX, [&](uint64_t n) { config.bus.seed = n; })
        || !number_of("VEMORA_SIM_NOISE", 1, [&](uint64_t n) { config.bus.noise = n != 0; })
        || !number_of("VEMORA_SIM_EVENT_GAP_US", 10'000'000,
            [&](uint64_t n) { config.bus.event_gap = std::chrono::microseconds(n); })
        || !number_of("VEMORA_SIM_PRIVATE_LOG2", 24,
            [&](uint64_t n) { config.board.data_length_log2 = uint8_t(n); })
        || !number_of("VEMORA_SIM_PRIVATE_ADDRESS", UINT32_MAX,
            [&](uint64_t n) { config.board.data_start_address = uint32_t(n); }))
        return false;
    if (const char* value = Env("VEMORA_SIM_FES_RETURN")) {
        const std::string text = value;
        if (text != "yes" && text != "never") {
            error = "VEMORA_SIM_FES_RETURN is \"yes\" or \"never\", not \"" + text + "\"";
            return false;
        }
        config.board.returns_in_fes = text == "yes";
    }
    if (const char* value = Env("VEMORA_SIM_LINK")) {
        const std::string text = value;
        const size_t colon = text.find(':');
        uint64_t latency = 0;
        uint64_t rate = 0;
        if (text == "usb2")
            config.board.link = LinkModel::UsbHighSpeed();
        else if (text == "off")
            config.board.link = LinkModel {};
        else if (colon != std::string::npos && ParseNumber(text.substr(0, colon), latency)
            && ParseNumber(text.substr(colon + 1), rate) && latency <= 10'000'000)
            config.board.link = LinkModel {uint32_t(latency), rate};
        else {
            error = "VEMORA_SIM_LINK is \"off\", \"usb2\" or LATENCY_US:BYTES_PER_SECOND, not \""
                + text + "\"";
            return false;
        }
    }
    if (const char* value = Env("VEMORA_SIM_FLASH_SIZE")) {
        if (!ParseSize(value, number) || number == 0) {
            error = std::string("VEMORA_SIM_FLASH_SIZE is not a size: \"") + value + "\"";
            return false;
        }
        config.board.flash_size = number;
    }
    if (const char* value = Env("VEMORA_SIM_FLASH_DIR"))
        config.board.flash_dir = value;
    config.board.flash_file
        = Env("VEMORA_SIM_FLASH_KEEP") && std::string(Env("VEMORA_SIM_FLASH_KEEP")) == "1"
        ? FlashFile::Kept
        : FlashFile::Unnamed;
    if (const char* value = Env("VEMORA_SIM_FAULTS")) {
        if (!ParseFaults(value, config.board.faults, error))
            return false;
    }
    if (const char* value = Env("VEMORA_SIM_OPEN_ERROR")) {
        if (!ParseErrno(value, config.board.open_error)) {
            error = std::string("VEMORA_SIM_OPEN_ERROR is an errno name or number, not \"") + value
                + "\"";
            return false;
        }
    }
    if (const char* value = Env("VEMORA_SIM_ROUTE")) {
        const std::string text = value;
        if (text != "shim" && text != "kernel") {
            error = "VEMORA_SIM_ROUTE is \"shim\" or \"kernel\", not \"" + text + "\"";
            return false;
        }
        config.bus.route = text == "shim" ? UeventRoute::Shim : UeventRoute::Kernel;
    }
    if (const char* value = Env("VEMORA_SIM_DEV_DIR"))
        config.bus.dev_dir = value;
    if (const char* value = Env("VEMORA_SIM_FAULTY_BOARDS")) {
        const std::string text = value;
        size_t start = 0;
        for (;;) {
            const size_t comma = std::min(text.find(',', start), text.size());
            if (!ParseNumber(text.substr(start, comma - start), number) || number == 0
                || number > config.boards) {
                error = "VEMORA_SIM_FAULTY_BOARDS lists board numbers from 1 to "
                    + std::to_string(config.boards) + ", not \"" + text + "\"";
                return false;
            }
            config.faulty.push_back(unsigned(number));
            if (comma == text.size())
                break;
            start = comma + 1;
        }
    }
    return true;
}

BoardOptions BoardFor(const EnvConfig& config, unsigned n)
{
    BoardOptions options = config.board;
    const std::vector<unsigned>& faulty = config.faulty;
    if (faulty.empty() || std::find(faulty.begin(), faulty.end(), n) != faulty.end())
        return options;
    const BoardOptions sound;
    options.faults.clear();
    options.open_error = sound.open_error;
    options.returns_in_fes = sound.returns_in_fes;
    return options;
}

} // namespace simdev
