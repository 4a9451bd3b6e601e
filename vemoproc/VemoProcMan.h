// The one object behind the plug-in's exports: it owns the firmware image and
// the session controller, keeps the current image path and the window's
// callback record, starts the hot-plug monitor, and is the single road by
// which every part of the plug-in reports to the window. Parts below the
// plug-in's root reach it only through Report.h (the monitor also through
// GetDeviceMessage).
#pragma once

#include <atomic>
#include <mutex>

#include "DeviceMessage/KoraDeviceMessage.h"
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
    int InitialDeviceMessage(void* hWnd);
    // See the exports of the same names in VemoProc.h.
    int LoadFWFile(const char* path);
    int BurnFWFile();
    int ToolsFesFromImage();
    int PreVemoMessage(void* hWnd, unsigned int message, unsigned int wParam, void* lParam);
    int Release(void* unused);
    // Starts the monitor thread once: 0, or VEMOPROC_NO_THREAD.
    int DeviceMsgLoop(void* data);
    KoraDeviceMessage* GetDeviceMessage();

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

    // At process exit: nothing is reported any more, arrivals are refused,
    // and, when no script runs in the image's state, the script's Exit runs
    // and the state and work files go. A script still running keeps its
    // state; the process ends around it.
    void Shutdown();

    // Null until InitProc has succeeded (and again from Shutdown on), then
    // &g_VemoProcMan: the way in for the reporting unit (Report.h), which has
    // no other handle on the manager. The spelling "VemoProMan" (no "c") is
    // the member's known name; kept.
    static std::atomic<VemoProcMan*> m_pVemoProMan;

private:
    char m_szImagePath[MAX_PATH_LEN];
    KoraImage m_Image;
    KoraDeviceMessage m_DeviceMessage;
    VemoCallbackFun m_Callback;
    void* m_hWnd;
    std::mutex m_loadLock; // one image load at a time (window's thread, monitor thread)
    std::atomic<bool> m_bMonitorStarted;
    std::atomic<bool> m_bClosing;
};

// The one manager. Its storage is never given back: the monitor and session
// threads run until the process ends and may still touch it while static
// objects are destroyed. Shutdown runs at static destruction instead.
extern VemoProcMan& g_VemoProcMan;
