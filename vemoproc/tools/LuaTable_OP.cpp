#include "LuaTable_OP.h"

#include <climits>
#include <cmath>
#include <cstring>

#include <lua.hpp>

namespace {

// Pushes _G[table]; false (and nothing left pushed) when it is not a table.
bool PushTable(lua_State* L, const char* table)
{
    lua_getfield(L, LUA_GLOBALSINDEX, table);
    if (lua_istable(L, -1))
        return true;
    lua_pop(L, 1);
    return false;
}

int ToInt(lua_State* L, int index)
{
    const lua_Number n = lua_tonumber(L, index);
    if (std::isnan(n))
        return 0;
    if (n >= static_cast<lua_Number>(INT_MAX))
        return INT_MAX;
    if (n <= static_cast<lua_Number>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(n);
}

void CopyText(lua_State* L, int index, char* out)
{
    if (lua_isstring(L, index))
        std::strcpy(out, lua_tostring(L, index));
}

} // namespace

LuaTable_OP::LuaTable_OP() = default;
LuaTable_OP::~LuaTable_OP() = default;

void LuaTable_OP::WriteTableFromKey(lua_State* L, const char* table, const char* key, int value)
{
    if (!PushTable(L, table))
        return;
    lua_pushnumber(L, value);
    lua_setfield(L, -2, key);
    lua_pop(L, 1);
}

void LuaTable_OP::WriteTableFromKey(
    lua_State* L, const char* table, const char* key, const char* value)
{
    if (!PushTable(L, table))
        return;
    lua_pushstring(L, value);
    lua_setfield(L, -2, key);
    lua_pop(L, 1);
}

void LuaTable_OP::WriteTableFromIndex(lua_State* L, const char* table, int index, int value)
{
    if (!PushTable(L, table))
        return;
    lua_pushnumber(L, value);
    lua_rawseti(L, -2, index);
    lua_pop(L, 1);
}

void LuaTable_OP::WriteTableFromIndex(lua_State* L, const char* table, int index, const char* value)
{
    if (!PushTable(L, table))
        return;
    lua_pushstring(L, value);
    lua_rawseti(L, -2, index);
    lua_pop(L, 1);
}

void LuaTable_OP::ReadTableFromKey(lua_State* L, const char* table, const char* key, int& out)
{
    if (!PushTable(L, table))
        return;
    lua_pushstring(L, key);
    lua_gettable(L, -2);
    out = ToInt(L, -1);
    lua_pop(L, 2);
}

void LuaTable_OP::ReadTableFromIndex(lua_State* L, const char* table, int index, int& out)
{
    if (!PushTable(L, table))
        return;
    lua_rawgeti(L, -1, index);
    out = ToInt(L, -1);
    lua_pop(L, 2);
}

void LuaTable_OP::ReadTableFromKey(lua_State* L, const char* table, const char* key, char* out)
{
    if (!PushTable(L, table))
        return;
    lua_pushstring(L, key);
    lua_gettable(L, -2);
    CopyText(L, -1, out);
    lua_pop(L, 2);
}

void LuaTable_OP::ReadTableFromIndex(lua_State* L, const char* table, int index, char* out)
{
    if (!PushTable(L, table))
        return;
    lua_rawgeti(L, -1, index);
    CopyText(L, -1, out);
    lua_pop(L, 2);
}
