// The reporting unit: the exported MsgCallBack and the reports of the parts
// below the plug-in's root, all forwarded through the process manager.
#include "Report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "PyrraDebug.h"
#include "VemoProcMan.h"

namespace {

// Where each message code of MsgCallBack goes.
struct Route {
    unsigned int code;
    int (VemoProcMan::*forward)(void* ctx, unsigned int value, const char* text);
};

constexpr Route kRoutes[] = {
    {VEMO_MSG_PROGRESS, &VemoProcMan::OnBurnProcess},
    {VEMO_MSG_ERROR, &VemoProcMan::OnBurnError},
    {VEMO_MSG_WARNING, &VemoProcMan::OnBurnWarning},
    {VEMO_MSG_OVER, &VemoProcMan::OnBurnOver},
};

// A FES thread's script reported the end of flashing.
thread_local bool t_bOverReported = false;

} // namespace

VEMORA_EXPORT void* MsgCallBack(unsigned int code, int value, const char* text)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    if (!man)
        return nullptr;

    const Route* route = std::find_if(
        std::begin(kRoutes), std::end(kRoutes), [code](const Route& r) { return r.code == code; });
    if (route == std::end(kRoutes))
        return nullptr;

    // The window is handed a copy of its own, valid for the call.
    char* copy = strdup(text ? text : " ");
    if (!copy) {
        PyrraDebug::DebugErr("MsgCallBack: out of memory, message 0x%x dropped\n", code);
        return nullptr;
    }
    (man->*route->forward)(nullptr, static_cast<unsigned int>(value), copy);
    std::free(copy);
    if (code == VEMO_MSG_OVER)
        t_bOverReported = true;
    return nullptr;
}

bool TakeOverReported()
{
    const bool reported = t_bOverReported;
    t_bOverReported = false;
    return reported;
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

int ReportTipInfo(unsigned int code, void* data)
{
    VemoProcMan* man = VemoProcMan::m_pVemoProMan;
    return man ? man->OnUpdateTipInfo(nullptr, code, data) : 0;
}
