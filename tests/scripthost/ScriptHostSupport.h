// What the script host's tests share beyond tests/support: a test double of
// the window's callback record, the test scripts, and deep directories.
#pragma once

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "Files.h"
#include "LuaTest.h"
#include "VemoProc.h"

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
    // removes work files there at exit: call it inside a WorkDir.
    static void Install();
    static void Install(const VemoCallbackFun& callbacks);
};
