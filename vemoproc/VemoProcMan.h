// The one object behind the plug-in's exports: it owns the firmware image and
// the window's callback record, and is the single road by which every part of
// the plug-in reports to the window. Parts below the plug-in's root reach it
// only through Report.h.
#pragma once

#include "VemoProc.h"
#include "image/KoraImage.h"

class VemoProcMan {
public:
    VemoProcMan();
    VemoProcMan(const VemoProcMan&) = delete;
    VemoProcMan& operator=(const VemoProcMan&) = delete;

    int InitVemoProc(void* hWnd, VemoCallbackFun callbacks);
    int InitProc(void* hWnd);
    int InitialImage();

    // Each calls the window's callback of the same slot with its arguments
    // unchanged and returns its result, or returns 0 when it is not set.
    int OnBurnBegin(void* ctx, unsigned int armTimeout, void* reserved);
    int OnBurnProcess(void* ctx, unsigned int percent, const char* text);
    int OnBurnError(void* ctx, unsigned int code, const char* text);
    int OnBurnWarning(void* ctx, unsigned int code, const char* text);
    int OnBurnOver(void* ctx, unsigned int code, const char* text);
    int OnUpdateTipInfo(void* ctx, unsigned int code, void* data);
    int OnLoadDynamic(void* ctx, unsigned char* data, unsigned int* length);
    int OnMessageBox(void* ctx, void* first, void* second);

    // Null until InitProc has succeeded, then &g_VemoProcMan: the way in for
    // the reporting unit (Report.h), which has no other handle on the manager.
    // The spelling "VemoProMan" (no "c") is the member's known name; kept.
    static VemoProcMan* m_pVemoProMan;

private:
    KoraImage m_Image;
    VemoCallbackFun m_Callback;
    void* m_hWnd;
};

// Constructed when the library is loaded, destroyed at process exit.
extern VemoProcMan g_VemoProcMan;
