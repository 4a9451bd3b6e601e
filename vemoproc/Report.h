// How the plug-in's parts report to the window: the tool driver, the tool
// callbacks and the session controller include this and nothing of the
// process manager. Every report goes through the manager that a successful
// InitVemoProc registered (VemoProcMan::m_pVemoProMan) to the window's
// callback of the slot named, with a null context. Before that there is no
// window to reach: nothing is reported and the result is 0, as it is when the
// window left the slot empty. Texts stay the caller's; they are needed only
// during the call.
#pragma once

#include "Export.h"

// Message codes of MsgCallBack (and of "ToolMsgCallBack" in tool scripts).
enum : unsigned int {
    VEMO_MSG_PROGRESS = 0x10, // pfnBurnProcess, value = percent
    VEMO_MSG_ERROR = 0x20,    // pfnBurnError
    VEMO_MSG_WARNING = 0x30,  // pfnBurnWarning
    VEMO_MSG_OVER = 0x40,     // pfnBurnOver: the end of flashing
};

// Reports from the tool-script side by message code, with value as the
// callback's number; other codes are ignored. The window gets a copy of the
// text, " " for a null text. Always returns null.
VEMORA_EXPORT void* MsgCallBack(unsigned int code, int value, const char* text);

// Whether MsgCallBack passed an end of flashing (VEMO_MSG_OVER) on this
// thread since the last call; clears it.
bool TakeOverReported();

// pfnBurnBegin(null, armTimeout, null): a run begins. A non-zero armTimeout
// arms the window's start watchdog. The window's handler may load the image
// again (LoadFWFile) on the calling thread before it returns.
int ReportBurnBegin(unsigned int armTimeout);

// pfnBurnError(null, 0, text): a failure, shown with the window's error text.
// The text is passed on as it is: nothing is copied or allocated here.
int ReportBurnError(const char* text);

// pfnMessageBox(null, first, second): the window's Yes/No/Cancel question.
// Blocks until the user has answered: 1 Yes, 0 No, -1 Cancel. Never call it
// on the window's own thread.
int ReportMessageBox(void* first, void* second);

// pfnUpdateTipInfo(null, code, data): a milestone of a board's run
// (VEMO_TIP_ codes of VemoProc.h); data is valid during the call only.
int ReportTipInfo(unsigned int code, void* data);
