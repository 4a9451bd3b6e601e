// The session controller's threads: the FEL thread, the wait thread that
// arms the wait for FES when the FEL thread has ended well, the FES thread,
// and what happens when the wait runs out.
#include "KoraDeviceMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include "PyrraDebug.h"
#include "Report.h"
#include "VemoProc.h"
#include "image/KoraImage.h"
#include "tools/LuaToolFex.h"

namespace {

constexpr char kSourceName[] = "./DeviceMessage/KoraDeviceMessage";
constexpr char kTimeoutText[] = "Wait for Fes Device Timeout...";
constexpr char kNoEndReportText[]
    = "Tools.entry_fes_thread returned true without reporting the end of flashing";

void* ExitValue(unsigned int result)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(result));
}

void ReportMilestone(unsigned int code, int32_t deviceId, unsigned int result, const char* node)
{
    VemoTipRun run {};
    run.DeviceId = deviceId;
    run.result = result;
    std::snprintf(run.devName, sizeof run.devName, "%s", node);
    ReportTipInfo(code, &run);
}

} // namespace

void* KoraDeviceMessage::FelThreadEntry(void* arg)
{
    auto* param = static_cast<ThreadParam*>(arg);
    auto* fel = static_cast<_tag_TOOL_FELPARA*>(param->pPara);
    KoraDeviceMessage* self = m_pSelf;
    unsigned int result = 0;
    {
        std::lock_guard<std::recursive_mutex> state(self->m_pImage->StateLock());
        _tag_TOOL_IF* tools = g_Tools_if.load();
        if (!tools) {
            PyrraDebug::DebugErr("FelThreadEntry g_Tools_if==NULL\n");
            ReportBurnError("FelThreadEntry g_Tools_if==NULL!!!");
        } else if (!self->StateUnchanged(param->L)) {
            PyrraDebug::DebugErr("FelThreadEntry: the script state was replaced, not entered\n");
            ReportBurnError(DEVMSG_REPLACED_TEXT);
            result = SESSION_STATE_REPLACED;
        } else {
            result = tools->Fel2Fes(param->L, fel);
            if (result != 0) {
                PyrraDebug::DebugErr("FelThreadEntry g_Tools_if->Fel2Fes %d\n", result);
                ReportBurnError("FelThreadEntry g_Tools_if->Fel2Fes Error!!!!");
            }
        }
    }
    std::free(param);
    // Out of the state: a host told of the end may load an image at once.
    self->ThreadEnded();
    ReportMilestone(VEMO_TIP_FEL_ENDED, 0, result, fel->felDevName);
    std::free(fel);
    return ExitValue(result);
}

void* KoraDeviceMessage::WaitFesThread(void* arg)
{
    KoraDeviceMessage* self = m_pSelf;
    auto* cell = static_cast<pthread_t*>(arg);
    if (!cell) {
        self->ThreadEnded();
        return nullptr;
    }
    void* exitValue = nullptr;
    const int joined = pthread_join(*cell, &exitValue);
    std::free(cell);
    if (joined != 0) {
        PyrraDebug::DebugErr("pthread join fel thread failed %s\n", std::strerror(joined));
        self->ThreadEnded();
        return ExitValue(1);
    }
    // A failed FEL half has been reported already: nothing to wait for.
    if (exitValue == nullptr) {
        PyrraDebug::DebugMsg("Fel Thread Finished!\n");
        self->m_WaitTimer.Arm(FesWaitLength());
    }
    self->ThreadEnded();
    return nullptr;
}

void KoraDeviceMessage::TimerHandler()
{
    m_bTimeout.store(true);
    if (!m_bFes.load())
        ReportBurnError(kTimeoutText);
    else
        PyrraDebug::DebugMsg("Fes Device Plugin before Timeout!\nKill Timer!\n");
}

void* KoraDeviceMessage::ToolThreadEntry(void* arg)
{
    auto* param = static_cast<ThreadParam*>(arg);
    auto* fes = static_cast<_tag_TOOL_FESPARA*>(param->pPara);
    KoraDeviceMessage* self = m_pSelf;
    ReportMilestone(VEMO_TIP_FES_STARTED, fes->DeviceId, 0, fes->fesDevName);
    unsigned int result = 0;
    {
        // Waits, if need be, for the FEL thread to leave the state.
        std::lock_guard<std::recursive_mutex> state(self->m_pImage->StateLock());
        _tag_TOOL_IF* tools = g_Tools_if.load();
        if (!tools || !self->StateUnchanged(param->L)) {
            PyrraDebug::DebugErr("ToolThreadEntry: the script state was replaced, not entered\n");
            ReportBurnError(DEVMSG_REPLACED_TEXT);
            result = SESSION_STATE_REPLACED;
        } else {
            TakeOverReported();
            result = tools->ToolEntry(param->L, fes);
            if (result != 0)
                PyrraDebug::DebugErr("%s %d failed\n", kSourceName, __LINE__);
            // Success without the end report would leave the window showing
            // a run that never ends, and a host counting it flashed.
            if (result == 0 && !TakeOverReported()) {
                PyrraDebug::DebugErr("%s\n", kNoEndReportText);
                ReportBurnError(kNoEndReportText);
                result = SESSION_NO_END_REPORT;
            }
        }
    }
    // The tool driver has told the window of a raised error and of a false
    // result; any other failure would leave the window waiting for an end
    // that never comes.
    if (result != 0 && result != SESSION_STATE_REPLACED && result != SESSION_NO_END_REPORT
        && result != TOOL_FES_THREAD_RAISED && result != TOOL_FES_THREAD_FALSE) {
        char text[96];
        std::snprintf(text, sizeof text, "Tools.entry_fes_thread failed with code %u", result);
        ReportBurnError(text);
    }
    std::free(param);
    self->ThreadEnded();
    ReportMilestone(VEMO_TIP_FES_ENDED, fes->DeviceId, result, fes->fesDevName);
    std::free(fes);
    return ExitValue(result);
}
