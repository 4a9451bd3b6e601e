#include "VemoProcMan.h"

#include "ModulePath.h"
#include "PyrraDebug.h"

namespace {

constexpr char kSourceName[] = "./VemoProcMan";

// A window callback called with the arguments given, or 0 when the window
// left the slot empty.
template <typename... Params, typename... Args> int Forward(int (*slot)(Params...), Args... args)
{
    return slot ? slot(args...) : 0;
}

} // namespace

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
    return Forward(m_Callback.pfnBurnBegin, ctx, armTimeout, reserved);
}

int VemoProcMan::OnBurnProcess(void* ctx, unsigned int percent, const char* text)
{
    return Forward(m_Callback.pfnBurnProcess, ctx, percent, text);
}

int VemoProcMan::OnBurnError(void* ctx, unsigned int code, const char* text)
{
    return Forward(m_Callback.pfnBurnError, ctx, code, text);
}

int VemoProcMan::OnBurnWarning(void* ctx, unsigned int code, const char* text)
{
    return Forward(m_Callback.pfnBurnWarning, ctx, code, text);
}

int VemoProcMan::OnBurnOver(void* ctx, unsigned int code, const char* text)
{
    return Forward(m_Callback.pfnBurnOver, ctx, code, text);
}

int VemoProcMan::OnUpdateTipInfo(void* ctx, unsigned int code, void* data)
{
    return Forward(m_Callback.pfnUpdateTipInfo, ctx, code, data);
}

int VemoProcMan::OnLoadDynamic(void* ctx, unsigned char* data, unsigned int* length)
{
    return Forward(m_Callback.pfnLoadDynamic, ctx, data, length);
}

int VemoProcMan::OnMessageBox(void* ctx, void* first, void* second)
{
    return Forward(m_Callback.pfnMessageBox, ctx, first, second);
}
