// What the transport and its callers both know of the FEX protocol: the
// command codes, the direction byte of a transfer, the size of the command
// block and the magic of the verify-device reply. Everything else on the wire
// (request blocks, status replies, driver requests) is the transport's own.
#pragma once

#include <cstdint>

// Command codes: the u16 at offset 0 of the command block.
enum : uint16_t {
    CMD_COMMON_VERIFY_DEV = 0x0001,
    CMD_COMMON_IS_READY = 0x0003,
    CMD_COMMON_GET_CMD_SET_VER = 0x0004,
    CMD_FEL_DOWN = 0x0101,
    CMD_FEL_RUN = 0x0102,
    CMD_FEL_UP = 0x0103,
    CMD_FES_TRANS = 0x0201,
    CMD_FES_RUN = 0x0202,
    CMD_FES_INFO = 0x0203,
    CMD_FES_GET_MSG = 0x0204,
};

// Direction of a transfer's data phase (Fex_transmit_receive).
constexpr unsigned char FEX_DIR_READ = 0x11;  // device to host
constexpr unsigned char FEX_DIR_WRITE = 0x12; // host to device

// The command block Fex_command sends: code, tag 0, 12 bytes of parameters.
constexpr unsigned FEX_CMD_LENGTH = 16;

// The 8 bytes that open a verify-device reply (the terminator is not sent).
constexpr char CMD_COMMON_VERIFY_DEV_MAGIC[] = "QXUSBFEX";
constexpr unsigned CMD_COMMON_VERIFY_DEV_MAGIC_LENGTH = sizeof CMD_COMMON_VERIFY_DEV_MAGIC - 1;
