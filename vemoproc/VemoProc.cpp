// The plug-in's C exports; each forwards to the process manager.
#include "VemoProc.h"

#include "VemoProcMan.h"

VEMORA_EXPORT int InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    return g_VemoProcMan.InitVemoProc(hWnd, callbacks);
}
