// The bridge between the plug-in and a tool script: each entry calls one
// function of the script's global table `Tools` with an argument table built
// from its record and turns the outcome into a result code.
//
// A raised error of Init, Exit and entry_fes_thread, and a false result of
// entry_fes_thread, are also reported to the window as errors. The entries
// leave the Lua stack as they found it.
#pragma once

#include "ToolIF.h"

// Result codes, 0 when the script function returned true. Each entry fails
// in five ways, each with a code of its own: Tools is not a table, the entry
// is not a function, the call raised a Lua error, the first result is not a
// boolean, the first result is false. Init also refuses a null state or
// record; Exit returns 0 at once for a null state.
enum : unsigned int {
    TOOL_INIT_NULL_ARG = 37,
    TOOL_INIT_NOT_TABLE = 52,
    TOOL_INIT_NOT_FUNCTION = 61,
    TOOL_INIT_RAISED = 93,
    TOOL_INIT_NOT_BOOLEAN = 101,
    TOOL_INIT_FALSE = 109,
    TOOL_EXIT_NOT_TABLE = 127,
    TOOL_EXIT_NOT_FUNCTION = 137,
    TOOL_EXIT_RAISED = 150,
    TOOL_EXIT_NOT_BOOLEAN = 158,
    TOOL_EXIT_FALSE = 166,
    TOOL_FEL2FES_NOT_TABLE = 184,
    TOOL_FEL2FES_NOT_FUNCTION = 194,
    TOOL_FEL2FES_RAISED = 211,
    TOOL_FEL2FES_NOT_BOOLEAN = 219,
    TOOL_FEL2FES_FALSE = 227,
    TOOL_FES_THREAD_NOT_TABLE = 244,
    TOOL_FES_THREAD_NOT_FUNCTION = 253,
    TOOL_FES_THREAD_RAISED = 282,
    TOOL_FES_THREAD_NOT_BOOLEAN = 290,
    TOOL_FES_THREAD_FALSE = 0xFFFFFFFF,
};

// Exported one by one: clang takes no attribute before a namespace's name.
#define LUA_TOOL_FEX_API __attribute__((visibility("default")))

namespace LUA_TOOL_FEX {

// Filled by InitToolIF; never cleared.
extern LUA_TOOL_FEX_API _tag_TOOL_IF g_LuaToolIF;
// The state most recently given to InitToolIF.
extern LUA_TOOL_FEX_API lua_State* g_pToolLuaState;

// Remembers L, fills g_LuaToolIF and returns its address (never null).
LUA_TOOL_FEX_API _tag_TOOL_IF* InitToolIF(lua_State* L);

LUA_TOOL_FEX_API unsigned int Init(lua_State* L, const _tag_TOOL_INIT_PARA* para);
// para is not used and may be null.
LUA_TOOL_FEX_API unsigned int Exit(lua_State* L, const _tag_TOOL_INIT_PARA* para);
// L and para must be valid.
LUA_TOOL_FEX_API unsigned int entry_fel2fes(lua_State* L, const _tag_TOOL_FELPARA* para);
LUA_TOOL_FEX_API unsigned int entry_fes_thread(lua_State* L, const _tag_TOOL_FESPARA* para);

} // namespace LUA_TOOL_FEX
