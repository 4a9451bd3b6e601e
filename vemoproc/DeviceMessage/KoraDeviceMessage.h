// The device session controller: turns the arrivals and departures of the
// device node into flashing runs, one device at a time. A FEL arrival takes
// the device (private data), runs the tool script's Init and starts a FEL
// thread running Tools.entry_fel2fes; once that thread has ended well, the
// device is expected back in FES within 30 s; a FES arrival starts a FES
// thread running Tools.entry_fes_thread, which flashes and reports itself.
//
// Threads: arrivals and departures come on the hot-plug monitor's thread;
// per FEL device a FEL thread and a wait thread, per FES device a FES thread;
// the 30-second wait is a timer thread (FesWaitTimer), no signal. The tool
// script's Lua state belongs to the image object; every entry into it holds
// the image's state lock, and a session thread checks after taking the lock
// that the state is still the one its FEL half prepared.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "DeviceMessage/FesWaitTimer.h"
#include "FexDevice/KoraFexDevice.h"
#include "FexDevice/stage/stage_buffer.h"
#include "ModulePath.h"
#include "tools/ToolIF.h"

class KoraImage;
class VemoProcMan;
struct lua_State;

// Result codes (0 = success, or handled as specified).
enum : int {
    DEVMSG_NO_IMAGE = 229,         // DevicePlugIn: no image path
    DEVMSG_IMAGE_UNREADABLE = 233, // DevicePlugIn: the image file cannot be read
    DEVMSG_STAGE_FAILED = 246,     // DevicePlugIn: the stage query failed
    DEVMSG_SCRIPT_BUSY = 249,      // DevicePlugIn: FEL arrival while a session thread still
                                   // runs in the script's state; refused, nothing touched
    DEVMSG_CLOSING = 252,          // DevicePlugIn: the plug-in is shutting down
    FES_PRIV_READ_FAILED = 339,    // PnpFesIn: private data could not be read
    FES_STATE_REPLACED = 362,      // PnpFesIn: the script's state was closed or replaced since
                                   // the board's FEL half; the board must come again in FEL
    FES_PRIV_WRITE_FAILED = 384,   // PnpFesIn: private data could not be written back
    FEL_NO_LUA_STATE = 417,        // PnpFelIn: no Lua state (the image-access script failed)
    FEL_NO_TOOL_IF = 424,          // PnpFelIn: the tools could not be loaded from the image
    FEL_PRIV_READ_FAILED = 441,    // PnpFelIn: private data could not be read
    FEL_ID_NOT_FRESH = 449,        // PnpFelIn: private `id` is not 0xCCCCCCCC
    FEL_PRIV_WRITE_FAILED = 460,   // PnpFelIn: private data could not be written back
    FEL_INIT_FAILED = 481,         // PnpFelIn: Tools.Init failed
    FEL_NO_MEMORY = 494,           // PnpFelIn: out of memory
    FEL_THREAD_FAILED = 528,       // PnpFelIn: the FEL thread could not be created
    FEL_WAIT_THREAD_FAILED = 538,  // PnpFelIn: the wait thread could not be created
    SESSION_STATE_REPLACED = 571,  // FEL or FES thread: the state it was started for is gone
    SESSION_NO_END_REPORT = 577,   // FES thread: Tools.entry_fes_thread returned true without
                                   // reporting the end of flashing (code 64)
    RUN_NO_TOOL_IF = 601,          // RunToolsThread: no tool interface
    RUN_NO_MEMORY = 611,           // RunToolsThread: out of memory
    RUN_THREAD_FAILED = 644,       // RunToolsThread: the FES thread could not be created
    SETIMG_NULL = 792,             // SetImg: null image object
    FILE_NULL_PATH = 1021,         // IsFileExist: null path
    FILE_UNREADABLE = 1029,        // IsFileExist: the file cannot be opened for reading
};

// The window's text for a FES board whose script state is gone.
constexpr char DEVMSG_REPLACED_TEXT[]
    = "The image was loaded again since this board left FEL: re-plug the board in FEL";

// Private-data values the controller gives meaning to.
constexpr uint32_t PRIVATE_ID_FRESH = 0xCCCCCCCC;
constexpr uint32_t PRIVATE_ID_TAKEN = 0;
constexpr uint32_t PRIVATE_OK_FLAG = 0x1234A5CD;

// The argument of the FEL and FES threads; the thread frees both blocks.
struct ThreadParam {
    lua_State* L;
    void* pPara; // _tag_TOOL_FELPARA or _tag_TOOL_FESPARA
};
static_assert(sizeof(ThreadParam) == 16 && offsetof(ThreadParam, pPara) == 8,
    "ThreadParam: the state, then the record");

class KoraDeviceMessage {
public:
    KoraDeviceMessage();
    KoraDeviceMessage(const KoraDeviceMessage&) = delete;
    KoraDeviceMessage& operator=(const KoraDeviceMessage&) = delete;

    // Set-up, in the order the manager calls them.
    void SetImagePath(const char* path);
    void SetWnd(void* hWnd);
    void SetProcMan(VemoProcMan* man);
    // Loads "usbwire.dll" through the plug-in center and hands its table to
    // the device layer; without the center every device operation fails.
    void IniteFexIF();
    int SetImg(KoraImage* image);

    int SetInterface(void* toolIF);
    bool IsToolsInit() const { return m_bToolsInit.load(); }
    void SetToolsInit(bool init) { m_bToolsInit.store(init); }
    // 0 when the file can be opened for reading, else FILE_ codes.
    int IsFileExist(const char* path);

    // From the hot-plug monitor's thread. The bool has no effect.
    int DevicePlugIn(const char* path, bool);
    int DevicePlugOut(const char* path, bool);

    // True while a FEL, wait or FES thread exists: the image must not be
    // replaced under it.
    bool SessionThreadsRunning() const { return m_nSessionThreads.load() > 0; }

    // At process exit, from the manager: arrivals are refused from now on and
    // the wait timer stops. When the caller holds the image's state lock
    // (`stateFree`: no script runs in it), the script's Exit runs and its
    // tools are unloaded; the plug-in center is closed.
    void Shutdown(bool stateFree);

    // How long the wait for FES lasts: 30 s. Test hook: VEMORA_FES_WAIT_MS
    // (1 to 30000) shortens it for the test suite; read once.
    static std::chrono::milliseconds FesWaitLength();

private:
    int PnpFelIn(const char* path);
    int PnpFesIn(const char* path);
    int RunToolsThread(const char* path, tag_PRIVATE_DATA* block);
    // A session thread is about to be created, or has ended.
    void ThreadStarting() { m_nSessionThreads.fetch_add(1); }
    void ThreadEnded() { m_nSessionThreads.fetch_sub(1); }
    // The state as the FEL half left it, when it is still in place.
    bool StateUnchanged(lua_State* L) const;

    static void* FelThreadEntry(void* param);
    static void* WaitFesThread(void* cell);
    static void* ToolThreadEntry(void* param);
    static void TimerHandler();

    KoraImage* m_pImage;
    char m_szImagePath[MAX_PATH_LEN];
    KoraFexDevice m_FexDevice;
    VemoProcMan* m_pProcMan;
    void* m_hWnd;
    _tag_TOOL_IF* m_pToolIF;
    int m_nDeviceId;
    lua_State* m_pLuaState;
    std::atomic<bool> m_bDeviceIn;
    std::atomic<bool> m_bToolsInit;
    void* m_hPluginCenter;

    std::mutex m_pathLock;                  // m_szImagePath: written by the window's thread
    std::atomic<uint64_t> m_nFelGeneration; // the state's generation after the FEL half; 0: none
    std::atomic<int> m_nSessionThreads;
    std::atomic<bool> m_bClosing;
    FesWaitTimer m_WaitTimer;

public:
    // Class-wide, as the timer's expiry and the threads see them.
    static std::atomic<bool> m_bTimeout;          // the wait for the FES device ran out
    static std::atomic<bool> m_bFes;              // a FES device arrived since the last FEL arrival
    static std::atomic<_tag_TOOL_IF*> g_Tools_if; // the interface the threads use
    static KoraDeviceMessage* m_pSelf;            // the one controller, for the thread entries
};
