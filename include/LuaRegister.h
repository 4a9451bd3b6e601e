// How the script libraries store their functions in a Lua state: each entry
// of a luaL_Reg list, in list order up to its {nullptr, nullptr} end, pushed
// as a closure without upvalues and stored in the globals table under its
// name, replacing any global of that name. The stack is left as it was.
#pragma once

#include <lua.hpp>

inline void RegisterGlobals(lua_State* L, const luaL_Reg* list)
{
    for (; list->name; ++list) {
        lua_pushcclosure(L, list->func, 0);
        lua_setfield(L, LUA_GLOBALSINDEX, list->name);
    }
}
