#include "VemoProcMan.h"

#include "ModulePath.h"
#include "PyrraDebug.h"

namespace {
constexpr char kSourceName[] = "./VemoProcMan";
}

VemoProcMan* VemoProcMan::m_pVemoProMan = nullptr;
VemoProcMan g_VemoProcMan;

VemoProcMan::VemoProcMan()
    : m_Callback {}
    , m_hWnd(nullptr)
{
}

int VemoProcMan::InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    m_hWnd = hWnd;
    m_Callback = callbacks;
    return InitProc(hWnd);
}

int VemoProcMan::InitProc(void* /*hWnd*/)
{
    const int result = InitialImage();
    if (result != 0) {
        PyrraDebug::DebugErr("InitialImage Error %s %d\n", kSourceName, __LINE__);
        return result;
    }
    m_Image.SetImagePath("");
    m_pVemoProMan = this;
    return 0;
}

int VemoProcMan::InitialImage()
{
    char exePath[MAX_PATH_LEN];
    ZeroBuffer(exePath, sizeof exePath);
    GetModuleFilePath(exePath);
    return static_cast<int>(m_Image.SetModuleDir(exePath));
}

int VemoProcMan::OnBurnBegin(void* ctx, unsigned int armTimeout, void* reserved)
{
    return m_Callback.pfnBurnBegin ? m_Callback.pfnBurnBegin(ctx, armTimeout, reserved) : 0;
}

int VemoProcMan::OnBurnProcess(void* ctx, unsigned int percent, void* text)
{
    return m_Callback.pfnBurnProcess
        ? m_Callback.pfnBurnProcess(ctx, percent, static_cast<const char*>(text))
        : 0;
}

int VemoProcMan::OnBurnError(void* ctx, unsigned int code, void* text)
{
    return m_Callback.pfnBurnError
        ? m_Callback.pfnBurnError(ctx, code, static_cast<const char*>(text))
        : 0;
}

int VemoProcMan::OnBurnWarning(void* ctx, unsigned int code, void* text)
{
    return m_Callback.pfnBurnWarning
        ? m_Callback.pfnBurnWarning(ctx, code, static_cast<const char*>(text))
        : 0;
}

int VemoProcMan::OnBurnOver(void* ctx, unsigned int code, void* text)
{
    return m_Callback.pfnBurnOver
        ? m_Callback.pfnBurnOver(ctx, code, static_cast<const char*>(text))
        : 0;
}

int VemoProcMan::OnUpdateTipInfo(void* ctx, unsigned int code, void* data)
{
    return m_Callback.pfnUpdateTipInfo ? m_Callback.pfnUpdateTipInfo(ctx, code, data) : 0;
}

int VemoProcMan::OnLoadDynamic(void* ctx, unsigned char* data, unsigned int* length)
{
    return m_Callback.pfnLoadDynamic ? m_Callback.pfnLoadDynamic(ctx, data, length) : 0;
}

int VemoProcMan::OnMessageBox(void* ctx, void* first, void* second)
{
    return m_Callback.pfnMessageBox ? m_Callback.pfnMessageBox(ctx, first, second) : 0;
}
