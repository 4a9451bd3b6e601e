// The contract of the plug-in center "pluginhub.dll": it loads plug-ins by
// file and hands out their interfaces by GUID.
#pragma once

#include <cstddef>

// Names a plug-in to the center. The GUID stands at byte 0, so a pointer to
// the record also serves as the GUID text of GetPluginInterface.
struct PluginLoadInfo {
    char szGuid[64];  // NUL-terminated GUID text
    char szPath[260]; // NUL-terminated full path of the plug-in file
};
static_assert(sizeof(PluginLoadInfo) == 324, "PluginLoadInfo is a 324-byte record");
static_assert(offsetof(PluginLoadInfo, szPath) == 64, "the path starts at byte 64");

// The manager: a plain record of function pointers.
struct tag_PLUGIN_MAN {
    // Slot 0: loads the plug-in file once and keeps its interface under the
    // GUID. 0 on success, a positive code on failure (callers ignore it).
    int (*LoadPlugin)(const PluginLoadInfo* info);
    // Slot 1: the interface kept under the GUID, null when unknown.
    void* (*GetPluginInterface)(const char* guid);
};

// Export of the plug-in center: one manager per process, or null.
typedef tag_PLUGIN_MAN* (*PFN_GetPluginMan)();

// Export of every plug-in the center loads: its interface. The center
// passes the GUID text it loads the plug-in under, in storage it keeps for
// the life of the process: a plug-in may ignore it or keep the pointer, and
// only reads through it.
typedef void* (*PFN_GetInterface)(void* guid);

// GUIDs of the system's plug-ins.
#define LANGHUB_GUID "0047670F-EA5B-46CD-83EF-202D7528D539"
#define VEMOPROC_GUID "13034BEE-CA7C-48e1-A1E1-5ACA2C5F43F8"
#define USBWIRE_GUID "f3e88841-bb99-42a0-aff4-385e1f5c8f3a"
