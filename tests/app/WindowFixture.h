// The plug-ins a window under test is bound to: the real language plug-in
// with the shipped "Vemora.lan", and the recording stand-in for the process
// plug-in (TestProc.h), both loaded directly by path.
#pragma once

#include "LanguageInterface.h"
#include "TestProc.h"
#include "VemoProc.h"

struct WindowPlugins {
    tag_LANG_IF* language = nullptr;
    VemoProcFunc* process = nullptr;
    TestProcControl* control = nullptr;
};

// Loads both plug-ins; false (and the loader's error printed) on failure.
bool LoadWindowPlugins(WindowPlugins& plugins);
