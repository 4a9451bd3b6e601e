#include "HotPlugInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The target device: its node's name, and the modalias and product it
// announces, compared over 15 and 10 characters ("usb:v1F3ApEFE8d" and
// "1f3a/efe8/": vendor and product, any release).
constexpr char kNodeName[] = "qx_efex";
constexpr char kModAlias[] = "usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF";
constexpr size_t kModAliasCompared = 15;
constexpr char kProduct[] = "1f3a/efe8/2b3";
constexpr size_t kProductCompared = 10;
constexpr char kDevDir[] = "/dev/";

// The text behind the first "=" of the line that carries `key`, or null when
// no line carries it.
const char* ValueOf(const HotPlugLines& lines, const char* key)
{
    const int index = CheckField(lines, key);
    if (index < 0)
        return nullptr;
    const char* line = lines[static_cast<size_t>(index)].szLine;
    const char* equals = std::strchr(line, '=');
    return equals ? equals + 1 : line + std::strlen(line);
}

template <size_t N> void Store(char (&field)[N], const char* value)
{
    std::snprintf(field, N, "%s", value);
}

// Replaces the field when the event carries the key.
template <size_t N> void Gather(const HotPlugLines& lines, const char* key, char (&field)[N])
{
    if (const char* value = ValueOf(lines, key))
        Store(field, value);
}

} // namespace

void SplitEvent(const char* data, size_t length, HotPlugLines& lines)
{
    lines.clear();
    size_t start = 0;
    while (start < length) {
        const void* nul = std::memchr(data + start, '\0', length - start);
        const size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : length;
        if (end > start) {
            HotPlug_Info line {};
            const size_t kept = std::min(end - start, sizeof line.szLine - 1);
            std::memcpy(line.szLine, data + start, kept);
            lines.push_back(line);
        }
        start = end + 1;
    }
}

int CheckField(const HotPlugLines& lines, const char* key)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (std::strstr(lines[i].szLine, key))
            return static_cast<int>(i);
    }
    return -1;
}

bool PrefixStrCmp(const char* a, const char* b, size_t n)
{
    const size_t m = std::min({std::strlen(a), std::strlen(b), n});
    return std::strncmp(a, b, m) == 0;
}

void GetDevDetchInfo(const HotPlugLines& lines, Dev_Detch_Info* record)
{
    if (const char* action = ValueOf(lines, "ACTION=")) {
        char value[sizeof record->szAction];
        Store(value, action);
        if (std::strcmp(value, record->szAction) != 0) {
            *record = Dev_Detch_Info {};
            record->bPlugIn = std::strcmp(value, "add") == 0;
        }
        Store(record->szAction, value);
    }
    Gather(lines, "DEVTYPE=", record->szDevType);
    Gather(lines, "PRODUCT=", record->szProduct);
    Gather(lines, "MODALIAS=", record->szModAlias);
    Gather(lines, "DEVNAME=", record->szDevName);
}

bool MatchTargetNode(const Dev_Detch_Info& record, char (&path)[HOTPLUG_PATH_SIZE])
{
    if (!record.szDevName[0] || !std::strstr(record.szDevName, kNodeName)
        || !PrefixStrCmp(kModAlias, record.szModAlias, kModAliasCompared)
        || !PrefixStrCmp(kProduct, record.szProduct, kProductCompared))
        return false;
    std::snprintf(path, sizeof path, "%s%s", kDevDir, record.szDevName);
    return true;
}
