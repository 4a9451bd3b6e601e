// Test helpers: a scratch directory to work in, captured log output, a test
// double of the window's callback record, and small Lua conveniences.
#pragma once

#include <lua.hpp>

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "VemoProc.h"

// Creates a fresh directory under /tmp, makes it the working directory, and
// removes it (and returns to the old directory) at scope end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    std::string m_oldCwd;
};

// Everything written to standard output and standard error between
// construction and Take() (each stream on its own).
class CapturedLog {
public:
    CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;
    void Take(); // stops capturing; idempotent
    const std::string& out() { return Take(), m_out; }
    const std::string& err() { return Take(), m_err; }

private:
    CaptureOutput m_outCapture;
    CaptureOutput m_errCapture;
    bool m_taken = false;
    std::string m_out;
    std::string m_err;
};

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Makes a directory whose path is exactly `length` characters long below
// `base` and enters it; returns its path.
std::string DeepDirectory(const std::string& base, size_t length);
// A file of tests/scripthost/scripts/.
std::string ScriptPath(const std::string& name);
void CopyScript(const std::string& name, const std::string& to);

// One call the plug-in made on the window.
struct WindowCall {
    enum Slot { Begin, Process, Error, Warning, Over, TipInfo, LoadDynamic, MessageBox } slot;
    void* ctx;
    unsigned int code; // percent for Process
    std::string text;  // MessageBox: the first text
    std::string second;
};

// The window as the plug-in sees it: a callback record of recording functions.
struct WindowDouble {
    static std::vector<WindowCall> calls;
    static int answer; // what MessageBox answers
    static VemoCallbackFun Callbacks();
    // InitVemoProc with these callbacks (or the given record); clears calls.
    // The manager takes the working directory as its program directory and
    // removes work files there at exit: call it inside a ScratchDir.
    static void Install();
    static void Install(const VemoCallbackFun& callbacks);
};

// A fresh state with the standard libraries.
lua_State* NewLua();
// Runs a chunk; returns "" or the error text.
std::string RunLua(lua_State* L, const std::string& chunk);
// Global `name` as text (tostring), "" when it is nil.
std::string GlobalText(lua_State* L, const char* name);
