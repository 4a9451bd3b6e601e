// The window's callback record for the process plug-in: eight plain
// functions that reach the one MainWindow from any thread.
#pragma once

#include "VemoProc.h"

class MainWindow;

// Results of the callbacks while no window exists.
enum NoWindowResult : int {
    kNoWindowBurnBegin = 20,
    kNoWindowBurnProcess = 26,
    kNoWindowBurnError = 32,
    kNoWindowBurnWarning = 38,
    kNoWindowBurnOver = 44,
    kNoWindowUpdateTipInfo = 50,
    kNoWindowMessageBox = 56,
    kNoWindowLoadDynamic = 62,
};

// The record handed to InitVemoProc, in slot order.
VemoCallbackFun WindowCallbacks();

// The window the callbacks reach. DetachWindow returns once no callback is
// inside the window any more; later calls get their no-window results.
void AttachWindow(MainWindow* window);
void DetachWindow();
