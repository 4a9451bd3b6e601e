// Script binding of the block cipher: Dec_Initial, Dec_Encode, Dec_Decode
// and Dec_UnInitial. Contexts and buffers cross as light userdata; the
// script frees its context itself with Dec_UnInitial.
#include "BlockCrypt.h"
#include "LuaRegister.h"

#include <lua.hpp>

// Dec_Initial(key, len) -> context (a null light userdata on failure)
VEMORA_EXPORT int l_Initial(lua_State* L)
{
    auto* key = static_cast<unsigned char*>(lua_touserdata(L, 1));
    const lua_Integer len = lua_tointeger(L, 2);
    // A length beyond unsigned int must not wrap into the accepted range.
    const unsigned int keyLength
        = len > 0 && len <= 0xFFFFFFFF ? static_cast<unsigned int>(len) : 0;
    lua_pushlightuserdata(L, Initial(key, keyLength));
    return 1;
}

// Dec_Encode(ctx, in, out) -> out; a refused call leaves out unwritten.
VEMORA_EXPORT int l_Encode(lua_State* L)
{
    Encode(lua_touserdata(L, 1), static_cast<unsigned char*>(lua_touserdata(L, 2)),
        static_cast<unsigned char*>(lua_touserdata(L, 3)));
    return 1;
}

// Dec_Decode(ctx, in, out) -> out
VEMORA_EXPORT int l_Decode(lua_State* L)
{
    Decode(lua_touserdata(L, 1), static_cast<unsigned char*>(lua_touserdata(L, 2)),
        static_cast<unsigned char*>(lua_touserdata(L, 3)));
    return 1;
}

// Dec_UnInitial(ctx) -> the freed handle, which names nothing any more.
VEMORA_EXPORT int l_UnInitial(lua_State* L)
{
    UnInitial(lua_touserdata(L, 1));
    return 1;
}

namespace {

const luaL_Reg kFunctions[] = {
    {"Dec_Initial", l_Initial},
    {"Dec_Encode", l_Encode},
    {"Dec_Decode", l_Decode},
    {"Dec_UnInitial", l_UnInitial},
    {nullptr, nullptr},
};

} // namespace

// Entry for package.loadlib: stores the four functions as globals.
VEMORA_EXPORT int l_RegAllFun(lua_State* L)
{
    RegisterGlobals(L, kFunctions);
    return 1;
}
