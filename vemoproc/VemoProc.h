// The plug-in's boundary towards the window: the callback record the window
// hands to InitVemoProc, the function table it gets from GetInterface, and
// the export that takes the record. How the plug-in reports through the
// record is in Report.h.
#pragma once

#include "Export.h"

// The window's callbacks. The first argument of each is a context pointer
// passed through unchanged: null for device and script events, the window
// handle for reports raised by the window's own requests.
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

// Stores the window handle and the whole callback record and sets up the
// process manager. 0 on success.
VEMORA_EXPORT int InitVemoProc(void* hWnd, VemoCallbackFun callbacks);
