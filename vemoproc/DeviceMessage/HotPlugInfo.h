// The hot-plug monitor's reading of kernel uevents, apart from the socket:
// a received datagram cut into lines, the detection record gathered from the
// lines of consecutive events with one action, and the rule that names the
// target device's node. Everything is bounded by the length received.
#pragma once

#include <cstddef>
#include <vector>

// One line of one kernel event: the header ("add@/devices/...") or one
// KEY=VALUE line, NUL-terminated, at most 1023 characters.
struct HotPlug_Info {
    char szLine[1024];
};

// The detection record. Each text field holds at most its width minus one
// characters; longer values are cut.
struct Dev_Detch_Info {
    char szAction[24];   // ACTION of the events being gathered
    char szDevType[32];  // DEVTYPE; stored, never consulted
    char szProduct[24];  // PRODUCT (vendor/product/release, lower-case hex)
    char szModAlias[60]; // MODALIAS
    char szDevName[32];  // DEVNAME (node name below /dev)
    bool bPlugIn;        // set when the stored action switched to "add"
};
static_assert(sizeof(Dev_Detch_Info) == 173, "the detection record is 173 bytes");
static_assert(offsetof(Dev_Detch_Info, szDevType) == 24 && offsetof(Dev_Detch_Info, szProduct) == 56
        && offsetof(Dev_Detch_Info, szModAlias) == 80 && offsetof(Dev_Detch_Info, szDevName) == 140
        && offsetof(Dev_Detch_Info, bPlugIn) == 172,
    "fields in their order, without padding");

using HotPlugLines = std::vector<HotPlug_Info>;

// Size of the buffer one event is received into, and of the node path.
constexpr size_t HOTPLUG_EVENT_SIZE = 4096;
constexpr size_t HOTPLUG_PATH_SIZE = 256;

// Replaces `lines` with the pieces of `data` between NUL bytes, in order,
// reading no byte at or past `length`; empty pieces are skipped.
void SplitEvent(const char* data, size_t length, HotPlugLines& lines);

// Index of the first line containing `key` anywhere, else -1.
int CheckField(const HotPlugLines& lines, const char* key);

// True when a and b agree on their first m characters, m the smallest of
// their lengths and n: an empty text agrees with everything.
bool PrefixStrCmp(const char* a, const char* b, size_t n);

// Brings the record up to date from one event's lines: a new ACTION value
// clears the record first (and sets bPlugIn for "add"); DEVTYPE, PRODUCT,
// MODALIAS and DEVNAME replace their fields when the event carries them.
void GetDevDetchInfo(const HotPlugLines& lines, Dev_Detch_Info* record);

// When the record names the target device's node (DEVNAME containing
// "qx_efex", modalias and product agreeing with the target's), writes
// "/dev/" and the node name to `path` and returns true.
bool MatchTargetNode(const Dev_Detch_Info& record, char (&path)[HOTPLUG_PATH_SIZE]);
