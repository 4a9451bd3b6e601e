// Building the 16-byte FEX command block: zero-filled, code at offset 0,
// tag 0, parameters little-endian at their offsets.
#pragma once

#include <cstdint>
#include <cstring>

struct tag_FEX_CMD {
    uint8_t bytes[16];
};

inline tag_FEX_CMD MakeFexCmd(uint16_t code)
{
    tag_FEX_CMD cmd;
    memset(cmd.bytes, 0, sizeof cmd.bytes);
    cmd.bytes[0] = static_cast<uint8_t>(code);
    cmd.bytes[1] = static_cast<uint8_t>(code >> 8);
    return cmd;
}

inline void PutCmdU32(tag_FEX_CMD& cmd, unsigned offset, uint32_t value)
{
    for (unsigned i = 0; i < 4; ++i)
        cmd.bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Device addresses are 32-bit; one passed in a pointer keeps its low 32 bits.
inline uint32_t DeviceAddress(const void* address)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
}
