// Set-up, arrivals and departures of the session controller; the session
// threads are in SessionThreads.cpp.
#include "KoraDeviceMessage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include <lua.hpp>

#include "PyrraDebug.h"
#include "Report.h"
#include "image/KoraImage.h"
#include "tools/ToolCallbacks.h"

namespace {

constexpr char kSourceName[] = "./DeviceMessage/KoraDeviceMessage";
constexpr char kUsbwireFile[] = "usbwire.dll";

// What the tool script's Init is told besides the paths.
constexpr int32_t kInitMode = 8;

// Texts for the window. The first three are the system's own; the last tells
// the user what to do when a board is refused to keep the script's state safe.
constexpr char kStageFailedText[] = "Get Device Stage Failed!";
constexpr char kFelFailedText[] = "PnpFelIn Error!";
constexpr char kFesFailedText[] = "PnpFesIn Error!";
constexpr char kBusyText[]
    = "Another board's run is still in progress: re-plug this board in FEL when it has ended";

} // namespace

std::atomic<bool> KoraDeviceMessage::m_bTimeout {false};
std::atomic<bool> KoraDeviceMessage::m_bFes {false};
std::atomic<_tag_TOOL_IF*> KoraDeviceMessage::g_Tools_if {nullptr};
KoraDeviceMessage* KoraDeviceMessage::m_pSelf = nullptr;

KoraDeviceMessage::KoraDeviceMessage()
    : m_pImage(nullptr)
    , m_szImagePath {}
    , m_pProcMan(nullptr)
    , m_hWnd(nullptr)
    , m_pToolIF(nullptr)
    , m_nDeviceId(1)
    , m_pLuaState(nullptr)
    , m_bDeviceIn(false)
    , m_bToolsInit(false)
    , m_hPluginCenter(nullptr)
    , m_nFelGeneration(0)
    , m_nSessionThreads(0)
    , m_bClosing(false)
    , m_WaitTimer(&KoraDeviceMessage::TimerHandler)
{
    m_pSelf = this;
}

std::chrono::milliseconds KoraDeviceMessage::FesWaitLength()
{
    static const std::chrono::milliseconds length = [] {
        constexpr long kProduct = 30000;
        const char* hook = std::getenv("VEMORA_FES_WAIT_MS");
        if (!hook)
            return std::chrono::milliseconds(kProduct);
        char* end = nullptr;
        const long ms = std::strtol(hook, &end, 10);
        return std::chrono::milliseconds(
            end != hook && *end == '\0' && ms >= 1 && ms <= kProduct ? ms : kProduct);
    }();
    return length;
}

void KoraDeviceMessage::SetImagePath(const char* path)
{
    std::lock_guard<std::mutex> hold(m_pathLock);
    std::snprintf(m_szImagePath, sizeof m_szImagePath, "%s", path ? path : "");
}

void KoraDeviceMessage::SetWnd(void* hWnd)
{
    m_hWnd = hWnd;
}

void KoraDeviceMessage::SetProcMan(VemoProcMan* man)
{
    m_pProcMan = man;
}

void KoraDeviceMessage::IniteFexIF()
{
    // Once per process: the center keeps the transport loaded for good.
    if (m_hPluginCenter)
        return;
    tag_PLUGIN_MAN* center = LoadPluginCenter(&m_hPluginCenter);
    if (!center)
        return;
    PluginLoadInfo info;
    if (MakePluginLoadInfo(&info, EFEX_IF_GUID, kUsbwireFile) != 0)
        return;
    center->LoadPlugin(&info);
    m_FexDevice.SetInterface(center->GetPluginInterface(EFEX_IF_GUID), EFEX_IF_GUID);
}

int KoraDeviceMessage::SetImg(KoraImage* image)
{
    if (!image)
        return SETIMG_NULL;
    m_pImage = image;
    return 0;
}

int KoraDeviceMessage::SetInterface(void* toolIF)
{
    m_pToolIF = static_cast<_tag_TOOL_IF*>(toolIF);
    return 0;
}

int KoraDeviceMessage::IsFileExist(const char* path)
{
    if (!path)
        return FILE_NULL_PATH;
    FILE* file = std::fopen(path, "r");
    if (!file)
        return FILE_UNREADABLE;
    std::fclose(file);
    return 0;
}

int KoraDeviceMessage::DevicePlugIn(const char* path, bool)
{
    if (m_bClosing.load())
        return DEVMSG_CLOSING;
    if (m_bDeviceIn.load()) {
        PyrraDebug::DebugErr("Too Many Devices plugin...\n");
        return 0;
    }
    m_bDeviceIn.store(true);

    char imagePath[MAX_PATH_LEN];
    {
        std::lock_guard<std::mutex> hold(m_pathLock);
        std::memcpy(imagePath, m_szImagePath, sizeof imagePath);
    }
    if (!imagePath[0])
        return DEVMSG_NO_IMAGE;
    if (IsFileExist(imagePath) != 0)
        return DEVMSG_IMAGE_UNREADABLE;

    unsigned stage = 0;
    const int result = m_FexDevice.GetCurrentStage(path, &stage);
    if (result != 0) {
        PyrraDebug::DebugErr("GetCurrentStage Failed %d %s\n", result, kSourceName);
        ReportBurnError(kStageFailedText);
        return DEVMSG_STAGE_FAILED;
    }

    if (stage == DEVICE_STAGE_FEL) {
        // The state the new run would rebuild is still in use: refuse before
        // the window reloads anything or the board is touched.
        if (SessionThreadsRunning()) {
            PyrraDebug::DebugErr("DevicePlugIn %s refused: a session thread still runs in the "
                                 "script state; re-plug it later\n",
                path);
            ReportBurnError(kBusyText);
            // Not taken: the earlier board must still be let in when it
            // comes back in FES.
            m_bDeviceIn.store(false);
            return DEVMSG_SCRIPT_BUSY;
        }
        ReportBurnBegin(1);
        m_bTimeout.store(false);
        m_bFes.store(false);
        m_WaitTimer.Cancel();
        const int fel = PnpFelIn(path);
        if (fel != 0) {
            PyrraDebug::DebugErr("DevicePlugIn PnpFelIn failed %d\n", fel);
            ReportBurnError(kFelFailedText);
        }
        return fel;
    }
    if (stage == DEVICE_STAGE_FES) {
        m_bFes.store(true);
        if (m_bTimeout.load()) {
            ReportBurnBegin(0);
            PyrraDebug::DebugMsg("Fes Device Plugin after Timeout...\n");
        }
        const int fes = PnpFesIn(path);
        if (fes != 0) {
            PyrraDebug::DebugErr("DevicePlugIn PnpFesIn failed %d\n", fes);
            // A refused board has had its own text already.
            if (fes != FES_STATE_REPLACED)
                ReportBurnError(kFesFailedText);
        }
        return fes;
    }
    // Two blanks: the fixed log text.
    PyrraDebug::DebugErr("DevicePlugIn  %d\n", stage);
    return 0;
}

int KoraDeviceMessage::DevicePlugOut(const char*, bool)
{
    m_bDeviceIn.store(false);
    return 0;
}

int KoraDeviceMessage::PnpFelIn(const char* path)
{
    // The state is prepared, entered (Init) and handed to the FEL thread
    // without anyone else closing or entering it in between.
    std::lock_guard<std::recursive_mutex> state(m_pImage->StateLock());
    if (m_bClosing.load())
        return DEVMSG_CLOSING;
    m_nFelGeneration.store(0); // whatever an earlier FEL half prepared is gone now

    tag_PRIVATE_DATA block;
    std::memset(&block, 0, sizeof block);

    m_pImage->CloseLua();
    m_pLuaState = m_pImage->GetLuaInstant();
    m_pToolIF = nullptr;
    if (!m_pLuaState) {
        PyrraDebug::DebugErr("PnpFelIn GetLuaInstant failed: no script state\n");
        return FEL_NO_LUA_STATE;
    }
    if (m_pImage->LoadTools() == 0)
        m_pToolIF = m_pImage->GetToolIF();
    if (!m_pToolIF) {
        PyrraDebug::DebugErr("GetToolIF Failed\n");
        return FEL_NO_TOOL_IF;
    }

    lua_pushcclosure(m_pLuaState, l_ToolMsgCallBack, 0);
    lua_setfield(m_pLuaState, LUA_GLOBALSINDEX, "ToolMsgCallBack");
    lua_pushcclosure(m_pLuaState, l_ToolMessageBox, 0);
    lua_setfield(m_pLuaState, LUA_GLOBALSINDEX, "ToolMessageBox");
    lua_pushcclosure(m_pLuaState, l_ToolsSuspend, 0);
    lua_setfield(m_pLuaState, LUA_GLOBALSINDEX, "ToolsSuspend");

    int result = m_FexDevice.GetFelPrivateData(path, &block, sizeof block);
    if (result != 0) {
        PyrraDebug::DebugErr("%s @ %d %d\n", kSourceName, __LINE__, result);
        return FEL_PRIV_READ_FAILED;
    }
    if (block.id != PRIVATE_ID_FRESH) {
        PyrraDebug::DebugErr("GetFelPrivateData Failed id = %d\n", static_cast<int>(block.id));
        return FEL_ID_NOT_FRESH;
    }
    block.id = PRIVATE_ID_TAKEN;
    result = m_FexDevice.SetFelPrivateData(path, &block, sizeof block);
    if (result != 0) {
        PyrraDebug::DebugErr("PnpFelIn SetStageBuffer error %d\n", result);
        return FEL_PRIV_WRITE_FAILED;
    }

    _tag_TOOL_INIT_PARA init;
    std::memset(&init, 0, sizeof init);
    std::snprintf(init.imgFilePath, sizeof init.imgFilePath, "%s", m_pImage->GetImagePath());
    GetModuleFilePath(init.workDir);
    init.Mode = kInitMode;
    init.hWnd = 0;
    init.ImgLenLow = static_cast<int32_t>(m_pImage->GetImageSize());
    init.ImgLenHigh = 0;

    g_Tools_if.store(m_pToolIF);
    result = static_cast<int>(m_pToolIF->Init(m_pLuaState, &init));
    if (result != 0) {
        PyrraDebug::DebugErr("=========== g_Tools_if->Init ======= %d \n", result);
        m_bToolsInit.store(false);
        return FEL_INIT_FAILED;
    }
    m_bToolsInit.store(true);
    m_nFelGeneration.store(m_pImage->StateGeneration());

    auto* param = static_cast<ThreadParam*>(std::calloc(1, sizeof(ThreadParam)));
    auto* fel = static_cast<_tag_TOOL_FELPARA*>(std::calloc(1, sizeof(_tag_TOOL_FELPARA)));
    auto* cell = static_cast<pthread_t*>(std::malloc(sizeof(pthread_t)));
    if (!param || !fel || !cell) {
        std::free(param);
        std::free(fel);
        std::free(cell);
        PyrraDebug::DebugErr("%s @ %d\n", kSourceName, __LINE__);
        return FEL_NO_MEMORY;
    }
    std::snprintf(fel->felDevName, sizeof fel->felDevName, "%s", path);
    param->L = m_pLuaState;
    param->pPara = fel;

    ThreadStarting();
    int created = pthread_create(cell, nullptr, FelThreadEntry, param);
    if (created != 0) {
        ThreadEnded();
        PyrraDebug::DebugErr(
            "Create Thread Failed %s %d %s\n", kSourceName, __LINE__, std::strerror(created));
        std::free(param);
        std::free(fel);
        std::free(cell);
        return FEL_THREAD_FAILED;
    }
    ThreadStarting();
    pthread_t waiter;
    created = pthread_create(&waiter, nullptr, WaitFesThread, cell);
    if (created != 0) {
        ThreadEnded();
        PyrraDebug::DebugErr(
            "Create Thread Failed %s %d %s\n", kSourceName, __LINE__, std::strerror(created));
        pthread_detach(*cell); // nobody will join it now
        std::free(cell);
        return FEL_WAIT_THREAD_FAILED;
    }
    pthread_detach(waiter);
    return 0;
}

int KoraDeviceMessage::PnpFesIn(const char* path)
{
    tag_PRIVATE_DATA block;
    std::memset(&block, 0, sizeof block);
    int result = m_FexDevice.GetFesPrivateData(path, &block, sizeof block);
    if (result != 0) {
        PyrraDebug::DebugErr(
            "PnpFesIn %s, %d, GetFesPrivateData failed %d\n", kSourceName, __LINE__, result);
        return FES_PRIV_READ_FAILED;
    }
    if (block.id != PRIVATE_ID_TAKEN) {
        // Flashed before: nothing is started and the window is not told.
        // The text (GBK in the original: "repeated production and ok_flag
        // wrong, reset and produce again") is the system's own; kept.
        if (block.ok_flag != PRIVATE_OK_FLAG)
            PyrraDebug::DebugMsg(
                "PnpFesIn 重复量产 并且ok_flag 错误 ! %x 请复位后重新量产", block.ok_flag);
        return 0;
    }
    // The FEL half prepared the state that entry_fes_thread must run in; if
    // it has been closed or replaced since, the script would run without its
    // Init (or in a state that is gone).
    const uint64_t prepared = m_nFelGeneration.load();
    if (prepared == 0 || prepared != m_pImage->StateGeneration()) {
        PyrraDebug::DebugErr(
            "PnpFesIn %s refused: the script state was replaced since its FEL half\n", path);
        ReportBurnError(DEVMSG_REPLACED_TEXT);
        return FES_STATE_REPLACED;
    }
    result = m_FexDevice.SetFesPrivateData(path, &block, sizeof block);
    if (result != 0) {
        PyrraDebug::DebugErr("%s @ %d %d\n", kSourceName, __LINE__, result);
        return FES_PRIV_WRITE_FAILED;
    }
    result = RunToolsThread(path, &block);
    if (result != 0)
        PyrraDebug::DebugErr("%s @ %d %d\n", kSourceName, __LINE__, result);
    return result;
}

int KoraDeviceMessage::RunToolsThread(const char* path, tag_PRIVATE_DATA* /*block*/)
{
    if (!m_pToolIF) {
        PyrraDebug::DebugErr("%s @ %d\n", kSourceName, __LINE__);
        return RUN_NO_TOOL_IF;
    }
    auto* param = static_cast<ThreadParam*>(std::calloc(1, sizeof(ThreadParam)));
    auto* fes = static_cast<_tag_TOOL_FESPARA*>(std::calloc(1, sizeof(_tag_TOOL_FESPARA)));
    if (!param || !fes) {
        std::free(param);
        std::free(fes);
        PyrraDebug::DebugErr("RunToolsThread malloc pThreadParam failed! %d\n", __LINE__);
        return RUN_NO_MEMORY;
    }
    std::snprintf(fes->fesDevName, sizeof fes->fesDevName, "%s", path);
    fes->DeviceId = m_nDeviceId++;
    fes->hubId = 0;
    fes->portId = 0;
    param->L = m_pLuaState;
    param->pPara = fes;

    ThreadStarting();
    pthread_t thread;
    const int created = pthread_create(&thread, nullptr, ToolThreadEntry, param);
    if (created != 0) {
        ThreadEnded();
        std::fprintf(
            stderr, "RunToolsThread AfxBeginThread m_Tools_if->ToolEntry failed! %d\n", __LINE__);
        std::free(param);
        std::free(fes);
        return RUN_THREAD_FAILED;
    }
    // Nobody joins it; detached, its stack is given back when it ends.
    pthread_detach(thread);
    return 0;
}

bool KoraDeviceMessage::StateUnchanged(lua_State* L) const
{
    return !m_bClosing.load() && L && L == m_pImage->GetLuaState()
        && m_nFelGeneration.load() == m_pImage->StateGeneration();
}

void KoraDeviceMessage::Shutdown(bool stateFree)
{
    m_bClosing.store(true);
    m_WaitTimer.Stop();
    _tag_TOOL_IF* tools = g_Tools_if.load();
    if (stateFree && tools && m_pImage) {
        tools->Exit(m_pImage->GetLuaState(), nullptr);
        m_pImage->UnLoadTools();
    } else if (!stateFree) {
        PyrraDebug::DebugErr("%s: a script still runs at exit; its Exit is skipped\n", kSourceName);
    }
    // m_pImage stays: a session thread may still look at the state.
    if (m_hPluginCenter) {
        CloseModule(m_hPluginCenter);
        m_hPluginCenter = nullptr;
    }
}
