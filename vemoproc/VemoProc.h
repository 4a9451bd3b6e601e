// The plug-in's boundary towards the window (and any other host, such as a
// headless runner): the callback record the host hands to InitVemoProc, the
// function table it gets from GetInterface, the exports, and the codes and
// records that cross. How the plug-in reports through the record is in
// Report.h.
#pragma once

#include <cstdint>

#include "Export.h"

// The host's callbacks. The first argument of each is a context pointer
// passed through unchanged: null for device and script events, the window
// handle for reports raised by the host's own requests (BurnFWFile). Texts
// and data are the plug-in's and valid only during the call. Callbacks come
// on the plug-in's threads (the hot-plug monitor and the session threads),
// never on the host's own thread, except pfnBurnError from BurnFWFile.
//
// The contract a host must keep:
// - pfnBurnBegin(null, armTimeout, null): a board's run begins. armTimeout 1:
//   a FEL board was accepted; the host loads its image again here, on the
//   calling thread, through LoadFWFile (the state the run then builds comes
//   from the image as it is now), and may start a watchdog. armTimeout 0: a
//   board came back in FES after the wait had run out; the run goes on in
//   the state its FEL half prepared, so the host must NOT load the image
//   here: a reload would close that state and the board would be refused
//   ("re-plug the board in FEL").
// - pfnBurnProcess(null, percent, text), pfnBurnWarning(null, 0, text):
//   progress and warnings of the tool script.
// - pfnBurnError(null, code, text): a failure; the run it belongs to is over
//   unless more reports follow for it. Every failed FES entry reaches the
//   host here (the tool driver's own texts, or "Tools.entry_fes_thread failed
//   with code N" for the other ways of failing), and so does one that returned
//   true without its end report ("Tools.entry_fes_thread returned true
//   without reporting the end of flashing").
// - pfnBurnOver(null, code, text): the tool script says the board is flashed.
// - pfnUpdateTipInfo(null, code, data): a milestone of a board's run
//   (VEMO_TIP_ codes below); hosts that do not time runs return 0.
// - pfnMessageBox(null, first, second): a question of the script; blocks the
//   script's thread until answered: 1 Yes, 0 No, -1 Cancel. When the script's
//   run is ended meanwhile (below), the script goes on without the answer and
//   the answer, once given, is dropped.
// - A script that never returns would hold the plug-in (no image load, no new
//   board) for good, so every call of a script entry has a time limit, one
//   hour unless the host sets another (PreVemoMessage, VEMO_PM_RUN_LIMIT), and
//   the host may end the script running now (VEMO_PM_END_RUN), for instance
//   when its run shows no progress. The script gets the error "the tool
//   script was ended: <why>" at its next instruction, ToolsSuspend and
//   ToolMessageBox return with it, and the host gets the same text through
//   pfnBurnError; the board's run then fails as for any script error.
struct VemoCallbackFun {
    int (*pfnBurnBegin)(void* ctx, unsigned int armTimeout, void* reserved);
    int (*pfnBurnProcess)(void* ctx, unsigned int percent, const char* text);
    int (*pfnBurnError)(void* ctx, unsigned int code, const char* text);
    int (*pfnBurnWarning)(void* ctx, unsigned int code, const char* text);
    int (*pfnBurnOver)(void* ctx, unsigned int code, const char* text);
    int (*pfnUpdateTipInfo)(void* ctx, unsigned int code, void* data);
    int (*pfnLoadDynamic)(void* ctx, unsigned char* data, unsigned int* length);
    // Blocks until the user answers: 1 Yes, 0 No, -1 Cancel.
    int (*pfnMessageBox)(void* ctx, void* first, void* second);
};
static_assert(sizeof(VemoCallbackFun) == 8 * sizeof(void*), "eight slots, in order");

// Milestones of a board's run, through pfnUpdateTipInfo(null, code, data)
// with data pointing at a VemoTipRun, at the moment they happen (a host
// takes its own clock in the call). In order for one board: the run begins
// with pfnBurnBegin(null, 1, null); VEMO_TIP_FEL_ENDED when its FEL thread
// ends (result: that of Tools.entry_fel2fes, 0 when the board was sent to
// FES; DeviceId 0, since the number is given in FES); VEMO_TIP_FES_STARTED
// when its FES thread starts (DeviceId: the board's number, 1 for the first
// FES board of the process; result 0); VEMO_TIP_FES_ENDED when that thread
// ends (DeviceId as before; result: 0 flashed well, else the FES entry's
// code, e.g. 0xFFFFFFFF for a false result of Tools.entry_fes_thread, or 577
// for a true result without the end report).
enum : unsigned int {
    VEMO_TIP_FEL_ENDED = 0x5601,
    VEMO_TIP_FES_STARTED = 0x5602,
    VEMO_TIP_FES_ENDED = 0x5603,
};

struct VemoTipRun {
    int32_t DeviceId;
    uint32_t result;
    char devName[260]; // the board's node path in that stage
};
static_assert(sizeof(VemoTipRun) == 268, "VemoTipRun: id, result, node path");

// Messages of PreVemoMessage(hWnd, message, wParam, lParam); any other
// message does nothing and answers 0. Safe from any thread, never waits.
enum : unsigned int {
    // Ends the tool script running now, if one runs; lParam: null, or the
    // reason as text (up to 127 bytes are kept) for the error the script and
    // the host get. Answers the number of script calls ended (0 or 1).
    VEMO_PM_END_RUN = 0x5701,
    // wParam: the longest a call of a script entry may run, in milliseconds;
    // 0: no limit. Applies to a call going on too. Answers 0.
    VEMO_PM_RUN_LIMIT = 0x5702,
};

// Results of the table's entries (0 = success). Other non-zero results of
// LoadFWFile are the image object's (image/KoraImage.h, IMAGE_ codes).
enum : int {
    VEMOPROC_NO_IMAGE = 268,       // BurnFWFile: no image path is set
    VEMOPROC_TOOLS_FAILED = 281,   // BurnFWFile: loading the tools from the image failed
    VEMOPROC_NULL_PATH = 284,      // LoadFWFile: null path
    VEMOPROC_PATH_TOO_LONG = 287,  // LoadFWFile: a path of 260 bytes or more
    VEMOPROC_SCRIPT_RUNNING = 293, // LoadFWFile: a board's script still runs in the current
                                   // state; nothing changed, try again when the run has ended
    VEMOPROC_CLOSING = 296,        // LoadFWFile: the plug-in is shutting down
    VEMOPROC_NO_THREAD = 722,      // DeviceMsgLoop: the monitor thread could not be created
};

// The plug-in's function table, handed out by GetInterface (through the
// plug-in center). Slots 0 and 5 are reserved and stay null.
struct VemoProcFunc {
    void* reserved0;
    int (*LoadFWFile)(const char* imagePath);
    int (*BurnFWFile)();
    int (*InitVemoProc)(void* hWnd, VemoCallbackFun callbacks);
    int (*PreVemoMessage)(void* hWnd, unsigned int message, unsigned int wParam, void* lParam);
    void* reserved5;
    int (*DeviceMsgLoop)(void* data);
};
static_assert(sizeof(VemoProcFunc) == 7 * sizeof(void*), "seven slots, in order");

// Fills slots 1, 2, 3, 4 and 6 of the one table and returns it; the argument
// is not read.
VEMORA_EXPORT VemoProcFunc* GetInterface(void* unused);

// Stores the window handle and the whole callback record, sets up the image
// object and the session controller (which loads "usbwire.dll" through the
// plug-in center). 0 on success.
VEMORA_EXPORT int InitVemoProc(void* hWnd, VemoCallbackFun callbacks);
// Loads the image's tools (VEMOPROC_ and IMAGE_ codes). Safe from any
// thread; never waits for a running flash: refused while a board's script
// runs in the current state.
VEMORA_EXPORT int LoadFWFile(const char* imagePath);
// Loads the tools of the current image again; 268 or 281 on failure, also
// reported through pfnBurnError with codes 256 and 257.
VEMORA_EXPORT int BurnFWFile();
// The host's messages (VEMO_PM_ above); 0 for any other.
VEMORA_EXPORT int PreVemoMessage(
    void* hWnd, unsigned int message, unsigned int wParam, void* lParam);
// Starts the hot-plug monitor thread once; a second call starts nothing.
// Always 0 (a failure to start is logged).
VEMORA_EXPORT int DeviceMsgLoop(void* data);
// Do nothing: 0 and 1.
VEMORA_EXPORT int Release(void* unused);
VEMORA_EXPORT int DllMain(void* module, unsigned int reason, void* reserved);
