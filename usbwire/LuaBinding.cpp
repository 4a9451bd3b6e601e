// The transport as Lua globals for tool scripts, registered by l_RegAllFun.
// Handles and buffers are light userdata; lengths are Lua numbers cut to 32
// bits. No function raises a Lua error: failures come back as nil or as the
// transport's code.
#include "EfexIf.h"
#include "LuaRegister.h"
#include "eFexCore.h"

#include <cstdint>
#include <cstring>
#include <lua.hpp>

namespace {

// The transport works on a local copy of the script's handle, so what it
// stores there (0 after a close) never reaches the script. A handle that is
// not a light userdata is no descriptor at all: the transport then gets no
// handle and refuses the call with its own code.
void** HandleArg(lua_State* L, int index, void*& copy)
{
    if (lua_type(L, index) != LUA_TLIGHTUSERDATA)
        return nullptr;
    copy = lua_touserdata(L, index);
    return &copy;
}

unsigned char* BufferArg(lua_State* L, int index)
{
    return static_cast<unsigned char*>(lua_touserdata(L, index));
}

// A Lua number cut to 32 bits, as the transport takes lengths and
// directions. NaN, the infinities and numbers beyond 64 bits have no such
// cut (converting them is undefined): they become 0xFFFFFFFF, a length the
// transport refuses as too long.
unsigned LengthArg(lua_State* L, int index)
{
    const lua_Number number = lua_tonumber(L, index);
    if (!(number > -9.2e18 && number < 9.2e18))
        return 0xFFFFFFFFu;
    return static_cast<unsigned>(static_cast<int64_t>(number));
}

using MoveFn = int (*)(void**, unsigned char*, unsigned, unsigned&);

// Fex_Send and Fex_Recv alike: handle, buffer and length in; the transport's
// count out on success, nil on failure.
int PushCount(lua_State* L, MoveFn move)
{
    void* handle = nullptr;
    unsigned count = 0;
    if (move(HandleArg(L, 1, handle), BufferArg(L, 2), LengthArg(L, 3), count) != 0)
        lua_pushnil(L);
    else
        lua_pushinteger(L, count);
    return 1;
}

} // namespace

// Fex_Open(path) -> handle, or nil
VEMORA_EXPORT int l_Fex_Open(lua_State* L)
{
    size_t length = 0;
    const char* path = lua_isstring(L, 1) ? lua_tolstring(L, 1, &length) : nullptr;
    void* handle = nullptr;
    // A path with a NUL inside would name another node.
    if (!path || std::strlen(path) != length || Fex_Open(&handle, const_cast<char*>(path)) != 0
        || handle == nullptr || handle == EFEX_NO_DEVICE) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushlightuserdata(L, handle);
    return 1;
}

// Fex_Close(handle) -> result code
VEMORA_EXPORT int l_Fex_Close(lua_State* L)
{
    void* handle = nullptr;
    lua_pushinteger(L, Fex_Close(HandleArg(L, 1, handle)));
    return 1;
}

// Fex_Query() -> nil
VEMORA_EXPORT int l_Fex_Query(lua_State* L)
{
    lua_pushnil(L);
    return 1;
}

// Fex_Send(handle, buffer, length) -> bytes sent, or nil
VEMORA_EXPORT int l_Fex_Send(lua_State* L)
{
    return PushCount(L, Fex_Send);
}

// Fex_Recv(handle, buffer, length) -> bytes received, or nil
VEMORA_EXPORT int l_Fex_Recv(lua_State* L)
{
    return PushCount(L, Fex_Recv);
}

// Fex_transmit_receive(handle, buffer, length, direction) -> result code
VEMORA_EXPORT int l_Fex_transmit_receive(lua_State* L)
{
    void* handle = nullptr;
    const auto direction = static_cast<unsigned char>(LengthArg(L, 4));
    lua_pushinteger(L,
        Fex_transmit_receive(HandleArg(L, 1, handle), BufferArg(L, 2), LengthArg(L, 3), direction));
    return 1;
}

// Fex_command(handle, command block, buffer, length) -> result code
VEMORA_EXPORT int l_Fex_command(lua_State* L)
{
    void* handle = nullptr;
    lua_pushinteger(L,
        Fex_command(
            HandleArg(L, 1, handle), lua_touserdata(L, 2), BufferArg(L, 3), LengthArg(L, 4)));
    return 1;
}

namespace {

const luaL_Reg kFunctions[] = {
    {"Fex_Open", l_Fex_Open},
    {"Fex_Close", l_Fex_Close},
    {"Fex_Query", l_Fex_Query},
    {"Fex_Send", l_Fex_Send},
    {"Fex_Recv", l_Fex_Recv},
    {"Fex_transmit_receive", l_Fex_transmit_receive},
    {"Fex_command", l_Fex_command},
    {nullptr, nullptr},
};

} // namespace

// Registers the seven functions as globals of L, replacing any of the same name.
VEMORA_EXPORT int l_RegAllFun(lua_State* L)
{
    RegisterGlobals(L, kFunctions);
    return 0;
}
