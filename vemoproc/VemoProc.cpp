// The plug-in's C exports; each forwards to the process manager.
#include "VemoProc.h"

#include "VemoProcMan.h"

namespace {

VemoProcFunc g_VemoProcFunc;

} // namespace

VEMORA_EXPORT VemoProcFunc* GetInterface(void* /*unused*/)
{
    g_VemoProcFunc.LoadFWFile = LoadFWFile;
    g_VemoProcFunc.BurnFWFile = BurnFWFile;
    g_VemoProcFunc.InitVemoProc = InitVemoProc;
    g_VemoProcFunc.PreVemoMessage = PreVemoMessage;
    g_VemoProcFunc.DeviceMsgLoop = DeviceMsgLoop;
    return &g_VemoProcFunc;
}

VEMORA_EXPORT int InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    return g_VemoProcMan.InitVemoProc(hWnd, callbacks);
}

VEMORA_EXPORT int LoadFWFile(const char* imagePath)
{
    return g_VemoProcMan.LoadFWFile(imagePath);
}

VEMORA_EXPORT int BurnFWFile()
{
    return g_VemoProcMan.BurnFWFile();
}

VEMORA_EXPORT int PreVemoMessage(
    void* hWnd, unsigned int message, unsigned int wParam, void* lParam)
{
    return g_VemoProcMan.PreVemoMessage(hWnd, message, wParam, lParam);
}

VEMORA_EXPORT int DeviceMsgLoop(void* data)
{
    g_VemoProcMan.DeviceMsgLoop(data);
    return 0;
}

VEMORA_EXPORT int Release(void* unused)
{
    return g_VemoProcMan.Release(unused);
}

VEMORA_EXPORT int DllMain(void* /*module*/, unsigned int /*reason*/, void* /*reserved*/)
{
    return 1;
}
