#include "luaarg.h"

#include "handles.h"

#include <cmath>

int64_t ArgInt64(lua_State* L, int index)
{
    const lua_Number n = lua_tonumber(L, index);
    if (std::isnan(n))
        return 0;
    // 2^63 is exact as a double; anything at or beyond it does not convert.
    constexpr lua_Number limit = 9223372036854775808.0;
    if (n >= limit)
        return INT64_MAX;
    if (n <= -limit)
        return INT64_MIN;
    return static_cast<int64_t>(n);
}

int32_t ArgInt32(lua_State* L, int index)
{
    return static_cast<int32_t>(ArgUInt32(L, index));
}

uint32_t ArgUInt32(lua_State* L, int index)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(ArgInt64(L, index)));
}

int32_t ArgCount(lua_State* L, const char* fn, int index)
{
    const int32_t count = ArgInt32(L, index);
    if (count < 0)
        ArgError(L, fn, index, "count must not be negative");
    return count;
}

unsigned char* ArgBuffer(lua_State* L, const char* fn, int index, int64_t offset, size_t count)
{
    return ArgBytes(L, fn, index, offset, count, &g_scriptBuffers);
}

const char* ArgString(lua_State* L, const char* fn, int index, size_t* length)
{
    if (!lua_isstring(L, index))
        ArgError(L, fn, index, "string expected, got %s", luaL_typename(L, index));
    return lua_tolstring(L, index, length);
}

const char* ArgPath(lua_State* L, const char* fn, int index)
{
    return lua_isnoneornil(L, index) ? nullptr : ArgString(L, fn, index);
}
