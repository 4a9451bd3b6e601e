#include "luaarg.h"

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

int32_t ArgCount(lua_State* L, int index)
{
    const int32_t count = ArgInt32(L, index);
    if (count < 0)
        luaL_argerror(L, index, "count must not be negative");
    return count;
}

unsigned char* ArgBuffer(lua_State* L, int index)
{
    void* p = lua_touserdata(L, index);
    if (!p)
        luaL_argerror(L, index, "buffer handle is null");
    return static_cast<unsigned char*>(p);
}

unsigned char* ArgBuffer(lua_State* L, int index, size_t count)
{
    return count > 0 ? ArgBuffer(L, index) : static_cast<unsigned char*>(lua_touserdata(L, index));
}

const char* ArgPath(lua_State* L, int index)
{
    return luaL_optstring(L, index, nullptr);
}
