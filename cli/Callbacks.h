// The runner's callback record for the process plug-in. The handlers behave
// as the window's do: the image is loaded again when a board arrives in FEL
// (and only then), and the results are the window's (0, and 1, 0 or -1 for
// a question).
#pragma once

#include "Boards.h"
#include "Questions.h"
#include "VemoProc.h"

#include <string>

// What the handlers reach; set before the record is handed to InitVemoProc
// and kept for the life of the process.
struct RunnerContext {
    VemoProcFunc* proc = nullptr;
    std::string image; // the image's full path
    Boards* boards = nullptr;
    Questions* questions = nullptr;
};

// The record, its handlers bound to `context`.
VemoCallbackFun RunnerCallbacks(RunnerContext* context);
