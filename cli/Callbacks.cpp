#include "Callbacks.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

RunnerContext* g_pContext = nullptr;

// A board that arrives while the runner ends is kept from being taken: its
// arrival never gets past this handler, so nothing touches it before the
// process ends.
[[noreturn]] void HoldForever()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

int BurnBegin(void*, unsigned int armTimeout, void*)
{
    if (!g_pContext->boards->RunBegins(armTimeout))
        HoldForever();
    // A board back in FES after its time-out goes on in the state its FEL
    // half prepared: a reload now would close it.
    if (armTimeout && g_pContext->proc->LoadFWFile(g_pContext->image.c_str()) != 0)
        std::fprintf(stderr, "Load firmware file %s failed\n", g_pContext->image.c_str());
    return 0;
}

int BurnProcess(void*, unsigned int percent, const char* text)
{
    g_pContext->boards->Progress(percent, text);
    return 0;
}

int BurnError(void*, unsigned int, const char* text)
{
    g_pContext->boards->Error(text);
    return 0;
}

int BurnWarning(void*, unsigned int, const char* text)
{
    g_pContext->boards->Warning(text);
    return 0;
}

int BurnOver(void*, unsigned int, const char* text)
{
    g_pContext->boards->Over(text);
    return 0;
}

int UpdateTipInfo(void*, unsigned int code, void* data)
{
    const auto* run = static_cast<const VemoTipRun*>(data);
    if (!run)
        return 0;
    switch (code) {
    case VEMO_TIP_FEL_ENDED:
        g_pContext->boards->FelHalfEnded(run->result);
        break;
    case VEMO_TIP_FES_STARTED:
        g_pContext->boards->FesHalfBegins(run->DeviceId);
        break;
    case VEMO_TIP_FES_ENDED:
        g_pContext->boards->FesHalfEnded(run->DeviceId, run->result);
        break;
    default:
        break;
    }
    return 0;
}

int LoadDynamic(void*, unsigned char*, unsigned int*)
{
    return 0;
}

int MessageBox(void*, void* first, void* second)
{
    return g_pContext->questions->Ask(first, second);
}

} // namespace

VemoCallbackFun RunnerCallbacks(RunnerContext* context)
{
    g_pContext = context;
    return VemoCallbackFun {
        BurnBegin,
        BurnProcess,
        BurnError,
        BurnWarning,
        BurnOver,
        UpdateTipInfo,
        LoadDynamic,
        MessageBox,
    };
}
