// The reporting unit: the exported MsgCallBack and the reports of the parts
// below the plug-in's root, all forwarded through the process manager.
#include "Report.h"

#include <cstdlib>
#include <cstring>

#include "PyrraDebug.h"
#include "VemoProcMan.h"

VEMORA_EXPORT void* MsgCallBack(unsigned int code, int value, const char* text)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    if (!man)
        return nullptr;

    int (VemoProcMan::*forward)(void*, unsigned int, const char*) = nullptr;
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

int ReportBurnBegin(unsigned int armTimeout)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    return man ? man->OnBurnBegin(nullptr, armTimeout, nullptr) : 0;
}

int ReportBurnError(const char* text)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    return man ? man->OnBurnError(nullptr, 0, text) : 0;
}

int ReportMessageBox(void* first, void* second)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    return man ? man->OnMessageBox(nullptr, first, second) : 0;
}
