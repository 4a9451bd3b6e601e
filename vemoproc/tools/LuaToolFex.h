// The bridge between the plug-in and a tool script: each entry calls one
// function of the script's global table `Tools` with an argument table built
// from its record and turns the outcome into a result code.
//
// Result codes (0 = the script function returned true):
//
//   case                          Init  Exit  entry_fel2fes  entry_fes_thread
//   null state (Init: or record)    37     0  -              -
//   global Tools is not a table     52   127  184            244
//   the entry is not a function     61   137  194            253
//   the call raised a Lua error     93   150  211            282
//   first result not a boolean     101   158  219            290
//   first result is false          109   166  227            0xFFFFFFFF
//
// A raised error of Init, Exit and entry_fes_thread, and a false result of
// entry_fes_thread, are also reported to the window as errors. The entries
// leave the Lua stack as they found it.
#pragma once

#include "ToolIF.h"

namespace __attribute__((visibility("default"))) LUA_TOOL_FEX
{

    // Filled by InitToolIF; never cleared.
    extern _tag_TOOL_IF g_LuaToolIF;
    // The state most recently given to InitToolIF.
    extern lua_State* g_pToolLuaState;

    // Remembers L, fills g_LuaToolIF and returns its address (never null).
    _tag_TOOL_IF* InitToolIF(lua_State * L);

    unsigned int Init(lua_State * L, const _tag_TOOL_INIT_PARA* para);
    // para is not used and may be null.
    unsigned int Exit(lua_State * L, const _tag_TOOL_INIT_PARA* para);
    // L and para must be valid.
    unsigned int entry_fel2fes(lua_State * L, const _tag_TOOL_FELPARA* para);
    unsigned int entry_fes_thread(lua_State * L, const _tag_TOOL_FESPARA* para);

} // namespace LUA_TOOL_FEX
