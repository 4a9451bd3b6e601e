#include "LuaToolFex.h"

#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "LuaErrorText.h"
#include "ModulePath.h"
#include "PyrraDebug.h"
#include "Report.h"
#include "ScriptWatch.h"

namespace LUA_TOOL_FEX {

_tag_TOOL_IF g_LuaToolIF;
lua_State* g_pToolLuaState;

} // namespace LUA_TOOL_FEX

namespace {

// The result codes of one entry, one per way of failing.
struct EntryCodes {
    unsigned int notTable;
    unsigned int notFunction;
    unsigned int raised;
    unsigned int notBoolean;
    unsigned int returnedFalse;
};

// The fixed numbers the entry's log lines carry ("L%d", "pcall FAILED").
struct EntryLines {
    int notFunction;
    int raised;
    int notBoolean;
    int returnedFalse;
    int finished; // 0: nothing logged on success
};

// What differs between the four entries.
struct EntryRule {
    const char* entry;   // key in Tools
    const char* logName; // how the result lines name it
    EntryCodes code;
    EntryLines line;
    bool logNil;             // log "Tools Is nil!" before the table test
    bool raisedLineEnd;      // the raised-error text is logged with "\n"
    bool reportRaised;       // the raised-error text goes to the window
    const char* falseReport; // text for the window on a false result, or null
};

// clang-format off
// The Init lines name "Tools.init" in lower case: fixed log text, kept.
constexpr EntryRule kInit = {"Init", "init",
    {TOOL_INIT_NOT_TABLE, TOOL_INIT_NOT_FUNCTION, TOOL_INIT_RAISED, TOOL_INIT_NOT_BOOLEAN,
        TOOL_INIT_FALSE},
    {59, 90, 99, 107, 0},
    true, true, true, nullptr};
constexpr EntryRule kExit = {"Exit", "Exit",
    {TOOL_EXIT_NOT_TABLE, TOOL_EXIT_NOT_FUNCTION, TOOL_EXIT_RAISED, TOOL_EXIT_NOT_BOOLEAN,
        TOOL_EXIT_FALSE},
    {135, 147, 156, 164, 0},
    false, false, true, nullptr};
constexpr EntryRule kFel2Fes = {"entry_fel2fes", "entry_fel2fes",
    {TOOL_FEL2FES_NOT_TABLE, TOOL_FEL2FES_NOT_FUNCTION, TOOL_FEL2FES_RAISED,
        TOOL_FEL2FES_NOT_BOOLEAN, TOOL_FEL2FES_FALSE},
    {192, 209, 217, 225, 0},
    false, true, false, nullptr};
constexpr EntryRule kFesThread = {"entry_fes_thread", "entry_fes_thread",
    {TOOL_FES_THREAD_NOT_TABLE, TOOL_FES_THREAD_NOT_FUNCTION, TOOL_FES_THREAD_RAISED,
        TOOL_FES_THREAD_NOT_BOOLEAN, TOOL_FES_THREAD_FALSE},
    {251, 279, 288, 296, 302},
    false, true, true, "returned value of Tools.entry_fes_thread is error"};
// clang-format on

enum class Outcome { NotTable, NotFunction, Raised, NotBoolean, False, True };

using ArgPusher = void (*)(lua_State* L, const void* para);

// One call of a Tools function, carried into and out of the protected run.
struct EntryCall {
    const EntryRule* rule;
    ArgPusher pushArgs; // null: the function is called without arguments
    const void* para;
    Outcome outcome;
    bool toolsNil;
    char failure[MAX_PATH_LEN]; // the "pcall FAILED" text of a raised error
};

void FormatRaised(EntryCall* call, lua_State* L, int status)
{
    std::snprintf(call->failure, sizeof call->failure, "pcall FAILED %s %d %d\r\n", LuaErrorText(L),
        status, call->rule->line.raised);
}

// Runs inside lua_cpcall, so that a metamethod of Tools or a memory error
// becomes a raised error instead of ending the process.
int CallEntry(lua_State* L)
{
    auto* call = static_cast<EntryCall*>(lua_touserdata(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, "Tools");
    call->toolsNil = lua_isnil(L, -1);
    if (!lua_istable(L, -1)) {
        call->outcome = Outcome::NotTable;
        return 0;
    }
    lua_getfield(L, -1, call->rule->entry);
    if (!lua_isfunction(L, -1)) {
        call->outcome = Outcome::NotFunction;
        return 0;
    }
    int nargs = 0;
    if (call->pushArgs) {
        call->pushArgs(L, call->para);
        nargs = 1;
    }
    const int status = lua_pcall(L, nargs, 1, 0);
    if (status != 0) {
        FormatRaised(call, L, status);
        call->outcome = Outcome::Raised;
    } else if (!lua_isboolean(L, -1)) {
        call->outcome = Outcome::NotBoolean;
    } else {
        call->outcome = lua_toboolean(L, -1) ? Outcome::True : Outcome::False;
    }
    return 0;
}

unsigned int RunEntry(lua_State* L, const EntryRule& rule, ArgPusher pushArgs, const void* para)
{
    EntryCall call {&rule, pushArgs, para, Outcome::NotTable, false, {}};
    int status;
    {
        // Ended by the host or the time limit: a raised error like any other.
        const ScriptWatch::Run watch(L, rule.entry);
        status = lua_cpcall(L, CallEntry, &call);
    }
    if (status != 0) {
        FormatRaised(&call, L, status);
        lua_pop(L, 1);
        call.outcome = Outcome::Raised;
    }

    // The log texts are fixed as they stand ("Tools Is nil!", "L%d,error",
    // "Finished to call"): kept on purpose, log readers match them.
    switch (call.outcome) {
    case Outcome::NotTable:
        if (rule.logNil && call.toolsNil)
            PyrraDebug::DebugErr("Tools Is nil!\n");
        PyrraDebug::DebugErr("error, Tools is not a table\n");
        return rule.code.notTable;
    case Outcome::NotFunction:
        PyrraDebug::DebugErr(
            "L%d,error, Tools.%s is not a function.\n", rule.line.notFunction, rule.entry);
        return rule.code.notFunction;
    case Outcome::Raised:
        if (rule.raisedLineEnd)
            PyrraDebug::DebugErr("%s\n", call.failure);
        else
            PyrraDebug::DebugErr("%s", call.failure);
        if (rule.reportRaised)
            MsgCallBack(VEMO_MSG_ERROR, 0, call.failure);
        return rule.code.raised;
    case Outcome::NotBoolean:
        PyrraDebug::DebugErr("L%d: result value type of Tools.%s is not a boolean!\n",
            rule.line.notBoolean, rule.logName);
        return rule.code.notBoolean;
    case Outcome::False:
        PyrraDebug::DebugErr("L%d, Exception, returned value of Tools.%s is error.\n",
            rule.line.returnedFalse, rule.logName);
        if (rule.falseReport)
            MsgCallBack(VEMO_MSG_ERROR, 0, rule.falseReport);
        return rule.code.returnedFalse;
    case Outcome::True:
        break;
    }
    if (rule.line.finished)
        PyrraDebug::DebugErr("L%d, Finished to call Tools.%s.\n", rule.line.finished, rule.logName);
    return 0;
}

// Text fields are read only up to their buffer's end, terminator or not.
void SetTextField(lua_State* L, const char* key, const char (&text)[MAX_PATH_LEN])
{
    lua_pushlstring(L, text, strnlen(text, sizeof text));
    lua_setfield(L, -2, key);
}

void SetNumberField(lua_State* L, const char* key, int32_t value)
{
    lua_pushnumber(L, value);
    lua_setfield(L, -2, key);
}

void PushInitArgs(lua_State* L, const void* p)
{
    const auto* para = static_cast<const _tag_TOOL_INIT_PARA*>(p);
    lua_createtable(L, 0, 6);
    SetTextField(L, "imgFilePath", para->imgFilePath);
    SetTextField(L, "workDir", para->workDir);
    SetNumberField(L, "Mode", para->Mode);
    SetNumberField(L, "hWnd", para->hWnd);
    SetNumberField(L, "ImgLenLow", para->ImgLenLow);
    SetNumberField(L, "ImgLenHigh", para->ImgLenHigh);
}

void PushFelArgs(lua_State* L, const void* p)
{
    const auto* para = static_cast<const _tag_TOOL_FELPARA*>(p);
    lua_createtable(L, 0, 1);
    SetTextField(L, "felDevName", para->felDevName);
}

void PushFesArgs(lua_State* L, const void* p)
{
    const auto* para = static_cast<const _tag_TOOL_FESPARA*>(p);
    lua_createtable(L, 0, 4);
    SetTextField(L, "fesDevName", para->fesDevName);
    SetNumberField(L, "DeviceId", para->DeviceId);
    SetNumberField(L, "hubId", para->hubId);
    SetNumberField(L, "portId", para->portId);
}

} // namespace

namespace LUA_TOOL_FEX {

_tag_TOOL_IF* InitToolIF(lua_State* L)
{
    g_pToolLuaState = L;
    g_LuaToolIF.Init = Init;
    g_LuaToolIF.Exit = Exit;
    g_LuaToolIF.Fel2Fes = entry_fel2fes;
    g_LuaToolIF.ToolEntry = entry_fes_thread;
    return &g_LuaToolIF;
}

unsigned int Init(lua_State* L, const _tag_TOOL_INIT_PARA* para)
{
    if (!L || !para)
        return TOOL_INIT_NULL_ARG;
    return RunEntry(L, kInit, PushInitArgs, para);
}

unsigned int Exit(lua_State* L, const _tag_TOOL_INIT_PARA* /*para*/)
{
    if (!L)
        return 0;
    return RunEntry(L, kExit, nullptr, nullptr);
}

unsigned int entry_fel2fes(lua_State* L, const _tag_TOOL_FELPARA* para)
{
    return RunEntry(L, kFel2Fes, PushFelArgs, para);
}

unsigned int entry_fes_thread(lua_State* L, const _tag_TOOL_FESPARA* para)
{
    return RunEntry(L, kFesThread, PushFesArgs, para);
}

} // namespace LUA_TOOL_FEX
