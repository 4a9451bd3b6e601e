#include "TestProc.h"

#include "Export.h"

#include <cstdio>
#include <mutex>
#include <unistd.h>

#ifndef TESTPROC_INIT_RESULT
#define TESTPROC_INIT_RESULT 0
#endif

namespace {

std::mutex g_lock;
std::string g_calls;
VemoCallbackFun g_callbacks;
bool g_haveCallbacks = false;
int g_loadResult = kByFile;

void Record(const std::string& line)
{
    const std::lock_guard<std::mutex> hold(g_lock);
    g_calls += line + "\n";
    std::printf("testproc: %s\n", line.c_str());
    std::fflush(stdout);
}

int LoadFWFile(const char* imagePath)
{
    Record(std::string("LoadFWFile ") + (imagePath ? imagePath : "(null)"));
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_loadResult != kByFile)
        return g_loadResult;
    return imagePath && access(imagePath, R_OK) == 0 ? 0 : kUnreadable;
}

int BurnFWFile()
{
    Record("BurnFWFile");
    return 0;
}

int InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    Record(hWnd ? "InitVemoProc" : "InitVemoProc without a window handle");
    const std::lock_guard<std::mutex> hold(g_lock);
    g_callbacks = callbacks;
    g_haveCallbacks = true;
    return TESTPROC_INIT_RESULT;
}

int PreVemoMessage(void*, unsigned int message, unsigned int wParam, void* lParam)
{
    char line[64];
    std::snprintf(line, sizeof line, "PreVemoMessage 0x%x %u ", message, wParam);
    Record(line + std::string(lParam ? static_cast<const char*>(lParam) : "(null)"));
    return 0;
}

int DeviceMsgLoop(void*)
{
    Record("DeviceMsgLoop");
    return 0;
}

VemoProcFunc g_table
    = {nullptr, LoadFWFile, BurnFWFile, InitVemoProc, PreVemoMessage, nullptr, DeviceMsgLoop};

const VemoCallbackFun* Callbacks()
{
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_haveCallbacks ? &g_callbacks : nullptr;
}

void SetLoadResult(int result)
{
    const std::lock_guard<std::mutex> hold(g_lock);
    g_loadResult = result;
}

std::string Calls()
{
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_calls;
}

void Reset()
{
    const std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
    g_haveCallbacks = false;
    g_loadResult = kByFile;
}

TestProcControl g_control = {Callbacks, SetLoadResult, Calls, Reset};

} // namespace

VEMORA_EXPORT VemoProcFunc* GetInterface(void*)
{
    return &g_table;
}

VEMORA_EXPORT TestProcControl* TestProc_Control()
{
    return &g_control;
}
