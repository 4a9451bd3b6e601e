// Ending a tool script that runs too long, or that the host wants ended.
//
// Every call of a script entry (LuaToolFex) runs inside a ScriptWatch::Run.
// A run is ended when the host asks (EndRuns, PreVemoMessage's
// VEMO_PM_END_RUN) or when it has run longer than the limit (SetLimit,
// VEMO_PM_RUN_LIMIT; kDefaultLimit until a host sets one). Ending sets a Lua
// hook on the run's state from the ending thread (lua_sethook may be called
// from another thread), which raises "the tool script was ended: <why>" in
// the script at its next instruction; the script's own error handlers get
// kGraceInstructions to clean up, then every instruction raises, so the error
// reaches the entry's protected call. The host functions that block
// (ToolsSuspend, ToolMessageBox) wake up and raise the same error. The host
// is told of every run ended through pfnBurnError with that text, on the
// script's thread once the entry has returned.
//
// A script running in a coroutine it created before the end is not reached
// by the hook (each coroutine has its own); it still ends at its next
// ToolsSuspend or ToolMessageBox, or by the limit of the next entry.
#pragma once

#include <chrono>
#include <cstddef>

struct lua_State;

namespace ScriptWatch {

constexpr std::chrono::milliseconds kDefaultLimit {60 * 60 * 1000};
constexpr int kGraceInstructions = 10000;
constexpr size_t kWhyLength = 127;

// Watches the entry `entry` ("Tools.entry_fes_thread") running in L on this
// thread from construction to destruction; the hook is gone afterwards.
class Run {
public:
    Run(lua_State* L, const char* entry);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

private:
    struct Record* m_pRecord;
};

// The longest a script entry may run; 0 for no limit. Applies to the runs
// going on as well (counted from their start).
void SetLimit(std::chrono::milliseconds limit);
std::chrono::milliseconds Limit();

// Ends every run going on, saying `why` (at most kWhyLength bytes are
// kept); the number ended.
int EndRuns(const char* why);

// For the host functions on a script's thread. Sleeps `length`, or less when
// the thread's run is ended meanwhile: false then. Outside a run it sleeps.
bool Sleep(std::chrono::microseconds length);
// Asks the host's question (ReportMessageBox) and returns the answer; when
// the thread's run is ended before the host answers, `ended` is set and the
// answer, once it comes, is dropped. Takes the two heap texts (freed here).
int Ask(char* first, char* second, bool& ended);
// Pushes the text of the thread's ended run (or of an ended run in general)
// and raises it as a Lua error; for a lua_CFunction's return statement.
int RaiseEnded(lua_State* L);

} // namespace ScriptWatch
