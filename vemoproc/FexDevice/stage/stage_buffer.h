// A device's stage and its private-data area. Each function opens the node
// by path, sends the verify-device command, acts on the answer and closes the
// node again; no handle outlives a call. All messages go to the debug
// message log.
#pragma once

#include <cstdint>

#include "EfexIf.h"
#include "Export.h"

// Stage codes written by GetCurrentStage.
enum : unsigned {
    DEVICE_STAGE_FEL = 0xE1,
    DEVICE_STAGE_FES = 0xE2,
};

// The private-data block as the session controller exchanges it.
struct tag_PRIVATE_DATA {
    uint32_t id;      // 0xCCCCCCCC fresh, 0 taken in FEL, other: flashed before
    uint32_t ok_flag; // 0x1234A5CD when the earlier flashing ended well
    uint8_t reserved[248];
};
static_assert(sizeof(tag_PRIVATE_DATA) == 256);

// Results of GetCurrentStage (0 = success, the stage code written).
enum : int {
    STAGE_NULL_ARG = 127,      // a missing argument
    STAGE_OPEN_FAILED = 134,   // the node could not be opened
    STAGE_VERIFY_FAILED = 141, // the verify-device command failed
    STAGE_UNKNOWN_MODE = 153,  // a mode neither FEL nor FES; the stage is left untouched
    STAGE_CLOSE_FAILED = 160,  // closing failed after the stage was written
};

VEMORA_EXPORT int GetCurrentStage(tag_EFEX_IF* efex_if, const char* path, unsigned* stage);

// 0, or -1 on any failure. Reads check the device's mode and not the size;
// writes check the size against the area and not the mode.
VEMORA_EXPORT int GetFelPrivateData(
    tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len);
VEMORA_EXPORT int SetFelPrivateData(
    tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len);
VEMORA_EXPORT int GetFesPrivateData(
    tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len);
VEMORA_EXPORT int SetFesPrivateData(
    tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len);
