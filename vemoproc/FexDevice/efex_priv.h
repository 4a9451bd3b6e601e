// The device record and the tool-thread parameter record through which a
// host hands a stage device (FEL or FES) to the device manager and to the
// commands that find their handle there. The host creates and fills both.
#pragma once

#include <cstdint>

#include "EfexIf.h"

// Device kinds of the stage operations.
enum : unsigned {
    EFEX_DEV_FEL = 1,
    EFEX_DEV_FES = 2,
};

// Values of tag_TOOL_THREAD_PARA::DeviceOpenMode. Only opening by node path
// is supported.
enum : uint32_t {
    DEVICE_OPEN_BY_PATH = 0x40,
    DEVICE_OPEN_BY_LOCATION = 0x80,
};

// Room for a node path of up to 511 characters and its terminator, the most
// the transport accepts.
constexpr unsigned DEVICE_PATH_SIZE = 512;

struct tag_EFEX_PRIV_INFO {
    tag_EFEX_IF* efex_interf; // every device call of the record goes through it
    uint8_t dev_state;        // 1 while a kind opened through the manager is open, else 0
    // Bit (1 << kind) for each kind opened through the manager and not closed
    // since: closing one kind leaves the other open and closable.
    uint8_t kinds_open;
    void* fel_dev_handle; // transport handle, 0 = none, -1 after a failed open
    void* fes_dev_handle;
};

struct tag_TOOL_THREAD_PARA {
    uint32_t DeviceOpenMode;
    char DevicePath[DEVICE_PATH_SIZE];
    tag_EFEX_PRIV_INFO* priv_info; // null = no device record
};
