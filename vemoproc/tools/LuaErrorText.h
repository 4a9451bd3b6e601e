#pragma once

#include <lua.hpp>

// The error object on top of the stack as text, for log lines and reports.
inline const char* LuaErrorText(lua_State* L)
{
    return lua_isstring(L, -1) ? lua_tostring(L, -1) : "(error object is not a string)";
}
