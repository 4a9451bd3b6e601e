#include "VemoProcMan.h"

#include <chrono>
#include <cstring>
#include <pthread.h>

#include "DeviceMessage/HotPlugMonitor.h"
#include "ModulePath.h"
#include "PyrraDebug.h"
#include "tools/ScriptWatch.h"

namespace {

constexpr char kSourceName[] = "./VemoProcMan";

// What BurnFWFile and ToolsFesFromImage tell the window with the text " ".
constexpr unsigned int kNoImageCode = 256;
constexpr unsigned int kToolsFailedCode = 257;

// A window callback called with the arguments given, or 0 when the window
// left the slot empty.
template <typename... Params, typename... Args> int Forward(int (*slot)(Params...), Args... args)
{
    return slot ? slot(args...) : 0;
}

// Runs the manager's Shutdown when the library's static objects are
// destroyed (at process exit: the library is never unloaded).
struct ExitTeardown {
    ~ExitTeardown() { g_VemoProcMan.Shutdown(); }
};

} // namespace

std::atomic<VemoProcMan*> VemoProcMan::m_pVemoProMan {nullptr};
VemoProcMan& g_VemoProcMan = *new VemoProcMan;
static ExitTeardown g_exitTeardown;

VemoProcMan::VemoProcMan()
    : m_szImagePath {}
    , m_Callback {}
    , m_hWnd(nullptr)
    , m_bMonitorStarted(false)
    , m_bClosing(false)
{
}

int VemoProcMan::InitVemoProc(void* hWnd, VemoCallbackFun callbacks)
{
    m_hWnd = hWnd;
    m_Callback = callbacks;
    return InitProc(hWnd);
}

int VemoProcMan::InitProc(void* hWnd)
{
    int result = InitialImage();
    if (result != 0) {
        PyrraDebug::DebugErr("InitialImage Error %s %d\n", kSourceName, __LINE__);
        return result;
    }
    m_Image.SetImagePath("");
    result = InitialDeviceMessage(hWnd);
    if (result != 0) {
        PyrraDebug::DebugErr("InitialDeviceMessage Error %s %d\n", kSourceName, __LINE__);
        return result;
    }
    m_pVemoProMan.store(this);
    return 0;
}

int VemoProcMan::InitialImage()
{
    char exePath[MAX_PATH_LEN];
    ZeroBuffer(exePath, sizeof exePath);
    GetModuleFilePath(exePath);
    return static_cast<int>(m_Image.SetModuleDir(exePath));
}

int VemoProcMan::InitialDeviceMessage(void* hWnd)
{
    m_DeviceMessage.SetImagePath(m_szImagePath);
    m_DeviceMessage.SetWnd(hWnd);
    m_DeviceMessage.SetProcMan(this);
    m_DeviceMessage.IniteFexIF();
    return m_DeviceMessage.SetImg(&m_Image);
}

int VemoProcMan::LoadFWFile(const char* path)
{
    if (!path)
        return VEMOPROC_NULL_PATH;
    const size_t length = strnlen(path, MAX_PATH_LEN);
    if (length >= MAX_PATH_LEN) {
        PyrraDebug::DebugErr("LoadFWFile: image path of %d bytes or more refused\n", MAX_PATH_LEN);
        return VEMOPROC_PATH_TOO_LONG;
    }

    std::lock_guard<std::mutex> load(m_loadLock);
    if (m_bClosing.load())
        return VEMOPROC_CLOSING;
    // Never wait here for a flash to end (this may be the window's thread),
    // and never close the state under a running script.
    std::unique_lock<std::recursive_mutex> state(m_Image.StateLock(), std::try_to_lock);
    if (!state.owns_lock() || m_DeviceMessage.SessionThreadsRunning()) {
        PyrraDebug::DebugErr(
            "LoadFWFile: a board's script still runs in the current state; %s not loaded\n", path);
        return VEMOPROC_SCRIPT_RUNNING;
    }

    if (_tag_TOOL_IF* tools = m_Image.GetToolIF()) {
        if (m_DeviceMessage.IsToolsInit()) {
            tools->Exit(m_Image.GetLuaState(), nullptr);
            m_DeviceMessage.SetToolsInit(false);
        }
        m_Image.UnLoadTools();
    }
    m_Image.SetImagePath(path);
    std::memset(m_szImagePath, 0, sizeof m_szImagePath);
    std::memcpy(m_szImagePath, path, length);
    const int result = static_cast<int>(m_Image.LoadTools());
    if (result != 0) {
        m_DeviceMessage.SetImagePath("");
        m_Image.SetImagePath("");
    } else {
        m_DeviceMessage.SetImagePath(m_Image.GetImagePath());
    }
    return result;
}

int VemoProcMan::BurnFWFile()
{
    bool noImage;
    {
        std::lock_guard<std::mutex> load(m_loadLock);
        noImage = !m_szImagePath[0];
    }
    if (noImage) {
        OnBurnError(m_hWnd, kNoImageCode, " ");
        return VEMOPROC_NO_IMAGE;
    }
    return ToolsFesFromImage() != 0 ? VEMOPROC_TOOLS_FAILED : 0;
}

int VemoProcMan::ToolsFesFromImage()
{
    std::lock_guard<std::mutex> load(m_loadLock);
    std::unique_lock<std::recursive_mutex> state(m_Image.StateLock(), std::try_to_lock);
    if (!state.owns_lock() || m_DeviceMessage.SessionThreadsRunning()) {
        PyrraDebug::DebugErr("ToolsFesFromImage: a board's script still runs; tools not loaded\n");
        return VEMOPROC_SCRIPT_RUNNING;
    }
    const int result = static_cast<int>(m_Image.LoadTools());
    if (result != 0) {
        OnBurnError(m_hWnd, kToolsFailedCode, " ");
        m_szImagePath[0] = '\0';
    }
    return result;
}

int VemoProcMan::PreVemoMessage(void*, unsigned int message, unsigned int wParam, void* lParam)
{
    switch (message) {
    case VEMO_PM_END_RUN:
        return ScriptWatch::EndRuns(lParam ? static_cast<const char*>(lParam) : "the host asked");
    case VEMO_PM_RUN_LIMIT:
        ScriptWatch::SetLimit(std::chrono::milliseconds(wParam));
        return 0;
    default:
        return 0;
    }
}

int VemoProcMan::Release(void*)
{
    return 0;
}

int VemoProcMan::DeviceMsgLoop(void* /*data*/)
{
    bool started = false;
    if (!m_bMonitorStarted.compare_exchange_strong(started, true)) {
        PyrraDebug::DebugErr("DeviceMsgLoop: the hot-plug monitor already runs\n");
        return 0;
    }
    // Runs until the process ends; its identifier is not kept.
    pthread_t thread;
    if (pthread_create(&thread, nullptr, DeviceMsgThreadEntry, this) != 0) {
        // No line end: the fixed text has none.
        PyrraDebug::DebugErr("Create posix thread error");
        m_bMonitorStarted.store(false);
        return VEMOPROC_NO_THREAD;
    }
    pthread_detach(thread);
    return 0;
}

KoraDeviceMessage* VemoProcMan::GetDeviceMessage()
{
    return &m_DeviceMessage;
}

void VemoProcMan::Shutdown()
{
    m_pVemoProMan.store(nullptr);
    m_bClosing.store(true);
    // Not waited for: a load on another thread may be stuck in a question to
    // a window that is gone. The state lock below is what keeps it safe.
    std::unique_lock<std::mutex> load(m_loadLock, std::try_to_lock);
    // A script still running (a FEL or FES thread) keeps the lock and its
    // state; only a free state is entered for Exit and closed.
    std::unique_lock<std::recursive_mutex> state(m_Image.StateLock(), std::try_to_lock);
    m_DeviceMessage.Shutdown(state.owns_lock());
    if (state.owns_lock()) {
        m_Image.RemoveTools();
        m_Image.CloseLua();
    }
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
