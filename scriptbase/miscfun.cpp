// The library's entry for scripts, l_RegAllFun, with the trace functions and
// arithmetic on 64-bit values passed as two 32-bit halves (Lua 5.1 numbers
// hold integers exactly only up to 2^53).
#include "LuaRegister.h"
#include "luaarg.h"
#include "scriptbase.h"

#include "PyrraDebug.h"

#include <algorithm>
#include <cstring>

namespace {

// Trace area of TraceBuffer: longer buffers are cut to this many bytes.
constexpr int kTraceSize = 512;

// Answers of CompareInt64.
enum : int {
    kInt64Less = 0,
    kInt64Equal = 1,
    kInt64Greater = 2,
};

// (low, high) at index, index + 1, each cut to its low 32 bits.
uint64_t ArgPair(lua_State* L, int index)
{
    return uint64_t(ArgUInt32(L, index + 1)) << 32 | ArgUInt32(L, index);
}

int PushPair(lua_State* L, uint64_t value)
{
    lua_pushnumber(L, static_cast<uint32_t>(value));
    lua_pushnumber(L, static_cast<uint32_t>(value >> 32));
    return 2;
}

} // namespace

long long Get64bitLen(unsigned int low, unsigned int high)
{
    return static_cast<long long>(uint64_t(high) << 32 | low);
}

void Get32BitLen(long long value, unsigned int& low, unsigned int& high)
{
    const uint64_t v = static_cast<uint64_t>(value);
    low = static_cast<unsigned int>(v);
    high = static_cast<unsigned int>(v >> 32);
}

// MessageBox(any, text [, text2]) -> 0
int l_MessageBox(lua_State* L)
{
    // Nothing appears on screen: the window's question box is reached
    // through the host's "ToolMessageBox".
    const char* text = ArgString(L, "MessageBox", 2);
    // The second text is only checked: a string or a number when present.
    if (!lua_isnoneornil(L, 3))
        ArgString(L, "MessageBox", 3);
    PyrraDebug::DebugMsg("%s\n", text);
    lua_pushnumber(L, 0);
    return 1;
}

// Exit() -> none
int l_Exit(lua_State*)
{
    return 1;
}

// DebugTrace(text) -> none
int l_DebugTrace(lua_State* L)
{
    PyrraDebug::DebugMsg("%s\n", ArgString(L, "DebugTrace", 1));
    return 1;
}

// TraceBuffer(buffer, count) -> none
int l_TraceBuffer(lua_State* L)
{
    const int32_t length = ArgCount(L, "TraceBuffer", 2);
    // Only the bytes copied are read, and only those must be in the buffer.
    const int32_t shown = std::min(length, kTraceSize);
    const unsigned char* p = ArgBuffer(L, "TraceBuffer", 1, 0, shown);
    char area[kTraceSize] = {};
    if (shown > 0)
        std::memcpy(area, p, shown);
    PyrraDebug::DebugMsg("%.*s\n", kTraceSize, area);
    return 1;
}

// CompareInt64(lowA, highA, lowB, highB) -> 0 A < B, 1 equal, 2 A > B
int l_CompareInt64(lua_State* L)
{
    const int64_t a = static_cast<int64_t>(ArgPair(L, 1));
    const int64_t b = static_cast<int64_t>(ArgPair(L, 3));
    lua_pushnumber(L, a < b ? kInt64Less : a == b ? kInt64Equal : kInt64Greater);
    return 1;
}

// Int64Add(lowA, highA, lowB, highB) -> low, high of A + B
int l_Int64Add(lua_State* L)
{
    return PushPair(L, ArgPair(L, 1) + ArgPair(L, 3));
}

// Int64Dec(lowA, highA, lowB, highB) -> low, high of A - B
int l_Int64Dec(lua_State* L)
{
    return PushPair(L, ArgPair(L, 1) - ArgPair(L, 3));
}

static const luaL_Reg kMiscFunctions[] = {
    {"MessageBox", l_MessageBox},
    {"Exit", l_Exit},
    {"DebugTrace", l_DebugTrace},
    {"TraceBuffer", l_TraceBuffer},
    {"CompareInt64", l_CompareInt64},
    {"Int64Add", l_Int64Add},
    {"Int64Dec", l_Int64Dec},
    {nullptr, nullptr},
};

// Entry for package.loadlib: these seven globals, then the path, buffer and
// file groups, 48 in all.
int l_RegAllFun(lua_State* L)
{
    RegisterGlobals(L, kMiscFunctions);
    RegPathFun(L);
    RegBuferFun(L);
    RegFileFun(L);
    return 1;
}
