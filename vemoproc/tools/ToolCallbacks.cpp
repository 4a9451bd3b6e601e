#include "ToolCallbacks.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "Report.h"
#include "ScriptWatch.h"

namespace {

// Argument `index` as text; " " when it is missing, nil or not a string or
// number.
const char* TextArg(lua_State* L, int index, size_t* length)
{
    const char* text = lua_tolstring(L, index, length);
    if (text)
        return text;
    *length = 1;
    return " ";
}

// A heap copy including the terminator; null when memory ran out.
char* CopyText(const char* text, size_t length)
{
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy)
        std::memcpy(copy, text, length + 1);
    return copy;
}

} // namespace

VEMORA_EXPORT int l_ToolMsgCallBack(lua_State* L)
{
    const auto code = static_cast<unsigned int>(lua_tointeger(L, 2));
    const char* text = lua_tostring(L, 3);
    const auto value = static_cast<int>(lua_tointeger(L, 4));
    MsgCallBack(code, value, text);
    return 0;
}

VEMORA_EXPORT int l_ToolMessageBox(lua_State* L)
{
    // Both texts are taken before anything is allocated: the conversion of a
    // number may raise a Lua error.
    size_t firstLength = 0;
    size_t secondLength = 0;
    const char* firstText = TextArg(L, 1, &firstLength);
    const char* secondText = TextArg(L, 2, &secondLength);
    char* first = CopyText(firstText, firstLength);
    char* second = CopyText(secondText, secondLength);
    if (!first || !second) {
        std::free(first);
        std::free(second);
        return luaL_error(L, "ToolMessageBox: out of memory");
    }
    bool ended = false;
    const int answer = ScriptWatch::Ask(first, second, ended);
    if (ended)
        return ScriptWatch::RaiseEnded(L);
    lua_pushnumber(L, answer);
    return 1;
}

VEMORA_EXPORT int l_ToolsSuspend(lua_State* L)
{
    const lua_Integer ms = lua_tointeger(L, 1);
    if (ms <= 0)
        return 0;
    // The pause is capped at 2^32 - 1 microseconds rather than wrapped.
    const uint64_t us = static_cast<uint64_t>(ms) > UINT32_MAX / 1000u
        ? UINT32_MAX
        : static_cast<uint64_t>(ms) * 1000u;
    // No signal cuts the pause short; ending the script's run does.
    if (!ScriptWatch::Sleep(std::chrono::microseconds(us)))
        return ScriptWatch::RaiseEnded(L);
    return 0;
}
