// A stand-in for the process plug-in "VemoProc.Plg" in the window's tests:
// GetInterface hands out a VemoProcFunc table that records every call, and
// TestProc_Control lets a test drive the window through the callback record
// the window gave to InitVemoProc.
#pragma once

#include "VemoProc.h"

#include <string>

struct TestProcControl {
    // The record given to the last InitVemoProc, null before.
    const VemoCallbackFun* (*Callbacks)();
    // What LoadFWFile answers: kByFile (the default) answers 0 for a
    // readable file and kUnreadable otherwise.
    void (*SetLoadResult)(int result);
    // The calls so far, one line each ("LoadFWFile /path"); also printed
    // to standard output as "testproc: <line>".
    std::string (*Calls)();
    void (*Reset)();
};

constexpr int kByFile = -1;
constexpr int kUnreadable = 104;

typedef TestProcControl* (*PFN_TestProc_Control)();
