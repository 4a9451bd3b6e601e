// The plug-in's C exports; each forwards to the process manager.
#include "VemoProc.h"

#include <cstdlib>
#include <cstring>

#include "PyrraDebug.h"
#include "VemoProcMan.h"

VEMORA_EXPORT int InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    return g_VemoProcMan.InitVemoProc(hWnd, callbacks);
}

VEMORA_EXPORT void* MsgCallBack(unsigned int code, int value, const char* text)
{
    // Before InitVemoProc there is no window to reach.
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    if (!man)
        return nullptr;

    int (VemoProcMan::*forward)(void*, unsigned int, void*) = nullptr;
    switch (code) {
    case VEMO_MSG_PROGRESS:
        forward = &VemoProcMan::OnBurnProcess;
        break;
    case VEMO_MSG_ERROR:
        forward = &VemoProcMan::OnBurnError;
        break;
    case VEMO_MSG_WARNING:
        forward = &VemoProcMan::OnBurnWarning;
        break;
    case VEMO_MSG_OVER:
        forward = &VemoProcMan::OnBurnOver;
        break;
    default:
        return nullptr;
    }

    // The window is handed a copy of its own, valid for the call.
    char* copy = strdup(text ? text : " ");
    if (!copy) {
        PyrraDebug::DebugErr("MsgCallBack: out of memory, message 0x%x dropped\n", code);
        return nullptr;
    }
    (man->*forward)(nullptr, static_cast<unsigned int>(value), copy);
    std::free(copy);
    return nullptr;
}
