// Script buffers: raw host memory outside the Lua heap, addressed by light
// userdata handles, with conversions, bit fields and checksums. Every access
// is checked against the live buffers before memory is touched.
#include "LuaRegister.h"
#include "handles.h"
#include "luaarg.h"
#include "scriptbase.h"

#include "Crc32.h"
#include "PyrraDebug.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char* const kSourceName = "./buffer";

// Two lowercase hex digits per byte, in memory order. luaL_Buffer keeps the
// work area on the Lua side, so a memory error leaks nothing.
void PushHex(lua_State* L, const unsigned char* p, int32_t count)
{
    static const char digits[] = "0123456789abcdef";
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int32_t i = 0; i < count; ++i) {
        luaL_addchar(&b, digits[p[i] >> 4]);
        luaL_addchar(&b, digits[p[i] & 0x0F]);
    }
    luaL_pushresult(&b);
}

// Reads the text as if a "0" stood in front of an odd-length text, two
// characters at a time with strtol's rules, and stores byte k at dst[k]:
// the inverse of PushHex.
void DecodeHex(unsigned char* dst, const char* text)
{
    const size_t n = std::strlen(text);
    const size_t m = n + (n & 1);
    for (size_t pos = 0; pos < m; pos += 2) {
        char pair[3] = {0, 0, 0};
        for (size_t j = 0; j < 2; ++j) {
            const size_t virt = pos + j;
            pair[j] = (n & 1) ? (virt == 0 ? '0' : text[virt - 1]) : text[virt];
        }
        dst[pos / 2] = static_cast<unsigned char>(std::strtol(pair, nullptr, 16));
    }
}

// 2^count - 1; counts outside 1..31 give an empty mask (32 by contract).
uint32_t BitMask(int32_t count)
{
    return (count <= 0 || count >= 32) ? 0u : (1u << count) - 1u;
}

uint32_t ShiftRight(uint32_t v, int32_t pos)
{
    return (pos < 0 || pos >= 32) ? 0u : v >> pos;
}

uint32_t ShiftLeft(uint32_t v, int32_t pos)
{
    return (pos < 0 || pos >= 32) ? 0u : v << pos;
}

uint32_t InsertBits(uint32_t word, int32_t pos, int32_t count, uint32_t value)
{
    const uint32_t mask = BitMask(count);
    return (word & ~ShiftLeft(mask, pos)) | ShiftLeft(value & mask, pos);
}

uint32_t Load32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store32(unsigned char* p, uint32_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// Bytes that hex text decodes to, as DecodeHex stores them.
size_t DecodedLength(const char* text)
{
    return (std::strlen(text) + 1) / 2;
}

} // namespace

unsigned int calc_crc32(void* data, unsigned int length)
{
    return Crc32(data, length);
}

unsigned int AddSum(unsigned char* data, unsigned int length, unsigned int seed)
{
    uint32_t sum = seed;
    const unsigned int whole = length / 4;
    for (unsigned int i = 0; i < whole; ++i) {
        const unsigned char* w = data + 4 * i;
        sum += uint32_t(w[0]) | uint32_t(w[1]) << 8 | uint32_t(w[2]) << 16 | uint32_t(w[3]) << 24;
    }
    const unsigned int rest = length % 4;
    uint32_t last = 0;
    for (unsigned int j = 0; j < rest; ++j)
        last |= uint32_t(data[4 * whole + j]) << (8 * j);
    return sum + last;
}

// MallocBuffer(size) -> buffer of size rounded up to 16 bytes, not cleared
int l_MallocBuff(lua_State* L)
{
    const int32_t size = ArgInt32(L, 1);
    if (size < 0)
        ArgError(L, "MallocBuffer", 1, "size must not be negative");
    const size_t rounded = (size_t(size) + 15) / 16 * 16;
    unsigned char* p = new (std::nothrow) unsigned char[rounded];
    if (p && !g_buffers.Add(p, rounded)) {
        delete[] p;
        p = nullptr;
    }
    if (!p)
        return luaL_error(L, "MallocBuffer: out of memory for %d bytes", size);
    lua_pushlightuserdata(L, p);
    return 1;
}

// FreeBuffer(buffer) -> none
int l_FreeBuffer(lua_State* L)
{
    const char* const fn = "FreeBuffer";
    // Only light userdata can come from MallocBuffer; a full userdata is
    // Lua's own memory and must never reach delete[].
    if (lua_type(L, 1) == LUA_TUSERDATA)
        ArgError(L, fn, 1, "not a buffer from MallocBuffer");
    void* p = lua_touserdata(L, 1);
    if (!p)
        return 1;
    // Forgotten first: of two threads freeing one buffer, one frees it.
    if (!g_buffers.Remove(p)) {
        HandleRegistry::Block block;
        if (g_buffers.Find(p, block))
            ArgError(L, fn, 1,
                "byte %zu of a buffer, not its start: free the handle MallocBuffer gave",
                static_cast<size_t>(static_cast<unsigned char*>(p) - block.start));
        ArgError(L, fn, 1, "not a buffer from MallocBuffer, or freed already");
    }
    delete[] static_cast<unsigned char*>(p);
    return 1;
}

namespace {

// handle + offset, which must stay inside the handle's buffer (its end
// included): a derived handle names bytes of the same buffer.
int PushOffset(lua_State* L, const char* fn)
{
    if (!lua_touserdata(L, 1))
        ArgError(L, fn, 1, "buffer handle is null");
    lua_pushlightuserdata(L, ArgBuffer(L, fn, 1, ArgInt32(L, 2), 0));
    return 1;
}

} // namespace

// GetBuffer(buffer, offset) -> buffer + offset
int l_GetBuffer(lua_State* L)
{
    return PushOffset(L, "GetBuffer");
}

// l_MidBuffer(buffer, offset) -> buffer + offset (exported, not registered)
int l_MidBuffer(lua_State* L)
{
    return PushOffset(L, "MidBuffer");
}

// Memcpy(dst, src, count) -> none
int l_Memcpy(lua_State* L)
{
    const char* const fn = "Memcpy";
    const int32_t count = ArgCount(L, fn, 3);
    unsigned char* dst = ArgBuffer(L, fn, 1, 0, count);
    const unsigned char* src = ArgBuffer(L, fn, 2, 0, count);
    if (count > 0)
        std::memmove(dst, src, count);
    return 1;
}

// Memset(buffer, byte, count) -> none
int l_Memset(lua_State* L)
{
    const char* const fn = "Memset";
    const int32_t count = ArgCount(L, fn, 3);
    unsigned char* p = ArgBuffer(L, fn, 1, 0, count);
    const int value = static_cast<int>(ArgInt64(L, 2) & 0xFF);
    if (count > 0)
        std::memset(p, value, count);
    return 1;
}

// Memcmp(a, b, count) -> negative, 0 or positive
int l_Memcmp(lua_State* L)
{
    const char* const fn = "Memcmp";
    const int32_t count = ArgCount(L, fn, 3);
    const unsigned char* a = ArgBuffer(L, fn, 1, 0, count);
    const unsigned char* b = ArgBuffer(L, fn, 2, 0, count);
    lua_pushinteger(L, count > 0 ? std::memcmp(a, b, count) : 0);
    return 1;
}

// BufferToString(buffer, count) -> hex text
int l_BufferToString(lua_State* L)
{
    const char* const fn = "BufferToString";
    const int32_t count = ArgCount(L, fn, 2);
    PushHex(L, ArgBuffer(L, fn, 1, 0, count), count);
    return 1;
}

// StringtoBuffer(buffer, hex) -> none
int l_StringtoBuffer(lua_State* L)
{
    const char* const fn = "StringtoBuffer";
    const char* text = ArgString(L, fn, 2);
    DecodeHex(ArgBuffer(L, fn, 1, 0, DecodedLength(text)), text);
    return 1;
}

// GetMemValue(buffer, offset, count) -> hex text
int l_GetMemValue(lua_State* L)
{
    const char* const fn = "GetMemValue";
    const int32_t count = ArgCount(L, fn, 3);
    PushHex(L, ArgBuffer(L, fn, 1, ArgInt32(L, 2), count), count);
    return 1;
}

// SetMemValue(buffer, offset, hex) -> none
int l_SetMemValue(lua_State* L)
{
    const char* const fn = "SetMemValue";
    const char* text = ArgString(L, fn, 3);
    DecodeHex(ArgBuffer(L, fn, 1, ArgInt32(L, 2), DecodedLength(text)), text);
    return 1;
}

// BufferToChars(buffer, offset, count) -> text up to the first zero byte
int l_BuffertoChars(lua_State* L)
{
    const char* const fn = "BufferToChars";
    const int32_t count = ArgCount(L, fn, 3);
    const char* p = reinterpret_cast<const char*>(ArgBuffer(L, fn, 1, ArgInt32(L, 2), count));
    // The text ends at its first zero byte, and never after count bytes.
    if (count > 0)
        lua_pushlstring(L, p, strnlen(p, count));
    else
        lua_pushliteral(L, "");
    return 1;
}

// CharsToBuffer(buffer, text) -> none
int l_CharstoBuffer(lua_State* L)
{
    const char* const fn = "CharsToBuffer";
    const char* text = ArgString(L, fn, 2);
    const size_t length = std::strlen(text);
    unsigned char* p = ArgBuffer(L, fn, 1, 0, length);
    if (length > 0)
        std::memcpy(p, text, length);
    return 1;
}

// GetInt32FrmMem(buffer, offset) -> 0 ... 4294967295
int l_GetInt32FrmMem(lua_State* L)
{
    lua_pushnumber(L, Load32(ArgBuffer(L, "GetInt32FrmMem", 1, ArgInt32(L, 2), 4)));
    return 1;
}

// SetInt32FrmMem(buffer, offset, value) -> none
int l_SetInt32FrmMem(lua_State* L)
{
    unsigned char* p = ArgBuffer(L, "SetInt32FrmMem", 1, ArgInt32(L, 2), 4);
    Store32(p, ArgUInt32(L, 3));
    return 1;
}

// GetInt16FrmMem(buffer, offset) -> 0 ... 65535
int l_GetInt16FrmMem(lua_State* L)
{
    const unsigned char* p = ArgBuffer(L, "GetInt16FrmMem", 1, ArgInt32(L, 2), 2);
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    lua_pushinteger(L, v);
    return 1;
}

// SetInt16FrmMem(buffer, offset, value) -> none
int l_SetInt16FrmMem(lua_State* L)
{
    unsigned char* p = ArgBuffer(L, "SetInt16FrmMem", 1, ArgInt32(L, 2), 2);
    const uint16_t v = static_cast<uint16_t>(ArgUInt32(L, 3));
    std::memcpy(p, &v, sizeof v);
    return 1;
}

// GetByteBitsFrmMem(buffer, offset, pos, count) -> bit field
int l_GetByteBitsFrmMem(lua_State* L)
{
    const unsigned char* p = ArgBuffer(L, "GetByteBitsFrmMem", 1, ArgInt32(L, 2), 1);
    const int32_t pos = ArgInt32(L, 3);
    const int32_t count = ArgInt32(L, 4);
    lua_pushinteger(L, ShiftRight(*p, pos) & BitMask(count));
    return 1;
}

// SetByteBitsFrmMem(buffer, offset, pos, count, value) -> true
int l_SetByteBitsFrmMem(lua_State* L)
{
    unsigned char* p = ArgBuffer(L, "SetByteBitsFrmMem", 1, ArgInt32(L, 2), 1);
    const int32_t pos = ArgInt32(L, 3);
    const int32_t count = ArgInt32(L, 4);
    const uint32_t value = ArgUInt32(L, 5);
    *p = static_cast<unsigned char>(InsertBits(*p, pos, count, value) & 0xFF);
    lua_pushboolean(L, 1);
    return 1;
}

// GetIntBitsFrmMem(buffer, index, pos, count) -> bit field
int l_GetIntBitsFrmMem(lua_State* L)
{
    const unsigned char* p = ArgBuffer(L, "GetIntBitsFrmMem", 1, 4 * int64_t(ArgInt32(L, 2)), 4);
    const int32_t pos = ArgInt32(L, 3);
    const int32_t count = ArgInt32(L, 4);
    lua_pushnumber(L, ShiftRight(Load32(p), pos) & BitMask(count));
    return 1;
}

// SetIntBitsFrmMem(buffer, index, pos, count, value) -> true
int l_SetIntBitsFrmMem(lua_State* L)
{
    unsigned char* p = ArgBuffer(L, "SetIntBitsFrmMem", 1, 4 * int64_t(ArgInt32(L, 2)), 4);
    const int32_t pos = ArgInt32(L, 3);
    const int32_t count = ArgInt32(L, 4);
    const uint32_t value = ArgUInt32(L, 5);
    Store32(p, InsertBits(Load32(p), pos, count, value));
    lua_pushboolean(L, 1);
    return 1;
}

// GetInt8FrmMem(buffer, offset) -> 0 ... 255
int l_GetInt8FrmMem(lua_State* L)
{
    lua_pushinteger(L, *ArgBuffer(L, "GetInt8FrmMem", 1, ArgInt32(L, 2), 1));
    return 1;
}

// SetInt8FrmMem(buffer, offset, value) -> none; logs the byte stored
int l_SetInt8FrmMem(lua_State* L)
{
    const int32_t offset = ArgInt32(L, 2);
    unsigned char* p = ArgBuffer(L, "SetInt8FrmMem", 1, offset, 1);
    const uint32_t value = ArgUInt32(L, 3);
    *p = static_cast<unsigned char>(value & 0xFF);
    PyrraDebug::DebugMsg(
        "%p, %u, %u, =%d", lua_touserdata(L, 1), static_cast<unsigned>(offset), value, *p);
    return 1;
}

// calc_crc32(buffer, length) -> CRC-32; logs it
int l_calc_crc32(lua_State* L)
{
    const char* const fn = "calc_crc32";
    const int32_t length = ArgCount(L, fn, 2);
    unsigned char* p = ArgBuffer(L, fn, 1, 0, length);
    const unsigned int crc = calc_crc32(p, static_cast<unsigned int>(length));
    PyrraDebug::DebugMsg("%s, pBuffer = %p, nLen = %u, crc32 = %u", kSourceName,
        static_cast<void*>(p), static_cast<unsigned>(length), crc);
    lua_pushnumber(L, crc);
    return 1;
}

// add_sum(buffer, length, seed) -> checksum
int l_add_sum(lua_State* L)
{
    const char* const fn = "add_sum";
    const int32_t length = ArgCount(L, fn, 2);
    unsigned char* p = ArgBuffer(L, fn, 1, 0, length);
    const uint32_t seed = ArgUInt32(L, 3);
    lua_pushnumber(L, AddSum(p, static_cast<unsigned int>(length), seed));
    return 1;
}

// The exported names l_MallocBuff, l_BuffertoChars, l_CharstoBuffer and the
// script name "StringtoBuffer" are spelled as callers know them; kept.
static const luaL_Reg kBufferFunctions[] = {
    {"MallocBuffer", l_MallocBuff},
    {"FreeBuffer", l_FreeBuffer},
    {"GetBuffer", l_GetBuffer},
    {"Memcpy", l_Memcpy},
    {"Memset", l_Memset},
    {"Memcmp", l_Memcmp},
    {"BufferToString", l_BufferToString},
    {"StringtoBuffer", l_StringtoBuffer},
    {"GetMemValue", l_GetMemValue},
    {"SetMemValue", l_SetMemValue},
    {"BufferToChars", l_BuffertoChars},
    {"CharsToBuffer", l_CharstoBuffer},
    {"GetInt32FrmMem", l_GetInt32FrmMem},
    {"SetInt32FrmMem", l_SetInt32FrmMem},
    {"GetInt16FrmMem", l_GetInt16FrmMem},
    {"SetInt16FrmMem", l_SetInt16FrmMem},
    {"GetByteBitsFrmMem", l_GetByteBitsFrmMem},
    {"SetByteBitsFrmMem", l_SetByteBitsFrmMem},
    {"GetIntBitsFrmMem", l_GetIntBitsFrmMem},
    {"SetIntBitsFrmMem", l_SetIntBitsFrmMem},
    {"GetInt8FrmMem", l_GetInt8FrmMem},
    {"SetInt8FrmMem", l_SetInt8FrmMem},
    {"calc_crc32", l_calc_crc32},
    {"add_sum", l_add_sum},
    {nullptr, nullptr},
};

// The buffer group alone. "Bufer" (one "f") is the exported name scripts
// load; kept as it is.
int RegBuferFun(lua_State* L)
{
    RegisterGlobals(L, kBufferFunctions);
    // Where the other script libraries of this state check buffer handles.
    lua_pushlightuserdata(L, ScriptBuffersKey());
    lua_pushlightuserdata(L, const_cast<tag_SCRIPT_BUFFERS*>(&g_scriptBuffers));
    lua_rawset(L, LUA_REGISTRYINDEX);
    return 1;
}
