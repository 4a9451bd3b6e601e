// The host functions a running tool script calls to talk to the window. The
// session controller stores them in each fresh tool state as the globals
// "ToolMsgCallBack", "ToolMessageBox" and "ToolsSuspend".
#pragma once

#include "Export.h"

struct lua_State;

// ToolMsgCallBack(any, code, text, value) -> none
// Passes code, value and text to MsgCallBack (16 progress, 32 error,
// 48 warning, 64 end; others ignored).
VEMORA_EXPORT int l_ToolMsgCallBack(lua_State* L);

// ToolMessageBox(first, second) -> answer
// Asks the window's Yes/No/Cancel question: 1, 0, -1 (0 without a window).
// Missing texts become " ". Blocks until the user has answered, or until the
// script's run is ended (ScriptWatch.h): then it raises that error.
VEMORA_EXPORT int l_ToolMessageBox(lua_State* L);

// ToolsSuspend(ms) -> none
// Sleeps that many milliseconds, at most 2^32 - 1 microseconds; zero,
// negative or missing returns at once. Raises the error of an ended run when
// the script's run is ended while it sleeps.
VEMORA_EXPORT int l_ToolsSuspend(lua_State* L);
