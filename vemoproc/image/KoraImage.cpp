#include "KoraImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <lua.hpp>
#include <unistd.h>

#include "PyrraDebug.h"
#include "tools/LuaErrorText.h"
#include "tools/LuaToolFex.h"

namespace {

constexpr char kSourceName[] = "./image/KoraImage";
constexpr char kImageScript[] = "./imgdec_fun.lua";
constexpr char kToolsFile[] = "tools.scj";
constexpr char kDramFile[] = "dram.ini";

// The last number of the two "pcall FAILED" log lines: a fixed text that log
// readers match, not a source line; kept.
constexpr int kExtractFailedNumber = 307;
constexpr int kToolsFailedNumber = 251;

// Longest module directory that leaves room for "/tools.scj" in a path buffer.
constexpr size_t kMaxModuleDirLen = MAX_PATH_LEN - 1 - (sizeof "/tools.scj" - 1);

// dir + "/" + name; false when there is no directory.
bool WorkFilePath(const char* dir, const char* name, char (&path)[MAX_PATH_LEN])
{
    if (!*dir)
        return false;
    const int length = std::snprintf(path, sizeof path, "%s/%s", dir, name);
    return length > 0 && length < MAX_PATH_LEN;
}

// What CallDownItem hands to the image-access script.
struct ItemRequest {
    const char* imagePath;
    const char* localPath;
};

// Runs inside lua_cpcall: looking the function up may run a metamethod of the
// globals table (a script guarding against undeclared globals), which must
// raise into the result, not end the process.
int CallDownItem(lua_State* L)
{
    const auto* request = static_cast<const ItemRequest*>(lua_touserdata(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, "Img_DownItemToLocal");
    lua_pushstring(L, request->imagePath);
    lua_pushstring(L, "UPFLYTLS");
    lua_pushstring(L, "xxxxxxxxxxxxxxxx");
    lua_pushstring(L, request->localPath);
    lua_call(L, 4, 0);
    return 0;
}

// Runs a loaded chunk and drops whatever it returns, so that nothing piles up
// on the state's stack between calls; the status of lua_pcall.
int RunChunk(lua_State* L)
{
    const int base = lua_gettop(L) - 1;
    const int status = lua_pcall(L, 0, LUA_MULTRET, 0);
    if (status == 0)
        lua_settop(L, base);
    return status;
}

} // namespace

KoraImage::KoraImage()
    : m_szModuleDir {}
    , m_szImageFile {}
    , m_pLua(nullptr)
    , m_pToolIF(nullptr)
    , m_stateGeneration(1)
{
}

KoraImage::~KoraImage()
{
    RemoveTools();
    CloseLua();
}

unsigned int KoraImage::SetModuleDir(const char* dir)
{
    if (!dir)
        return IMAGE_NULL_DIR;
    if (!getcwd(m_szModuleDir, sizeof m_szModuleDir)
        || std::strlen(m_szModuleDir) > kMaxModuleDirLen) {
        m_szModuleDir[0] = '\0';
        PyrraDebug::DebugMsg("%s @ %d working directory unreadable or longer than %zu\n",
            kSourceName, __LINE__, kMaxModuleDirLen);
        return IMAGE_BAD_DIR;
    }
    return 0;
}

void KoraImage::SetState(lua_State* L)
{
    m_pLua = L;
    m_stateGeneration.fetch_add(1);
}

unsigned int KoraImage::SetImagePath(const char* path)
{
    if (!path)
        return IMAGE_NULL_PATH;
    if (!*path)
        return 0;
    const size_t length = strnlen(path, MAX_PATH_LEN);
    if (length >= MAX_PATH_LEN) {
        PyrraDebug::DebugMsg("%s @ %d image path too long\n", kSourceName, __LINE__);
        return IMAGE_PATH_TOO_LONG;
    }
    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    if (!GetLuaInstant()) {
        PyrraDebug::DebugMsg("%s @ %d GetLuaInstant failed\n", kSourceName, __LINE__);
        return IMAGE_NO_STATE;
    }
    std::memcpy(m_szImageFile, path, length + 1);
    return 0;
}

const char* KoraImage::GetImagePath()
{
    return m_szImageFile;
}

lua_State* KoraImage::GetLuaState()
{
    return m_pLua;
}

_tag_TOOL_IF* KoraImage::GetToolIF()
{
    return m_pToolIF;
}

unsigned int KoraImage::GetImageSize()
{
    std::ifstream image(m_szImageFile, std::ios::binary);
    if (!image)
        return 0;
    image.seekg(0, std::ios::end);
    const std::streamoff size = image.tellg();
    return size < 0 ? 0 : static_cast<unsigned int>(size);
}

lua_State* KoraImage::GetLuaInstant()
{
    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    CloseLua();
    SetState(luaL_newstate());
    if (!m_pLua)
        return nullptr;
    luaL_openlibs(m_pLua);

    // The script is found, and finds its own files, relative to the module
    // directory; one from elsewhere must never run in its place.
    if (chdir(m_szModuleDir) != 0) {
        PyrraDebug::DebugMsg("chdir %s failed: %s\n", m_szModuleDir, std::strerror(errno));
        CloseLua();
        return nullptr;
    }
    if (luaL_loadfile(m_pLua, kImageScript) != 0) {
        PyrraDebug::DebugMsg("luaL_loadfile imgdec_fun Failed %s\n", LuaErrorText(m_pLua));
        CloseLua();
        return nullptr;
    }
    if (RunChunk(m_pLua) != 0) {
        PyrraDebug::DebugMsg("lua_pcall imgdec_fun Failed %s\n", LuaErrorText(m_pLua));
        CloseLua();
        return nullptr;
    }
    return m_pLua;
}

unsigned int KoraImage::CloseLua()
{
    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    if (m_pLua) {
        lua_close(m_pLua);
        SetState(nullptr);
    }
    return 0;
}

unsigned int KoraImage::LoadTools()
{
    char toolPath[MAX_PATH_LEN];
    if (!*m_szImageFile || !WorkFilePath(m_szModuleDir, kToolsFile, toolPath))
        return IMAGE_NOT_SET;

    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    m_stateGeneration.fetch_add(1); // the state's Tools are about to be replaced
    UnLoadTools();
    unsigned int result = GetToolsFromImage(m_szImageFile, toolPath);
    if (result != 0) {
        PyrraDebug::DebugMsg("%s, GetToolsFromImage failed %d\n", kSourceName, __LINE__);
        return result;
    }
    result = LoadToolsPlug();
    if (result != 0) {
        PyrraDebug::DebugMsg("%s, LoadToolsPlug failed %d\n", kSourceName, __LINE__);
        return result;
    }
    return 0;
}

unsigned int KoraImage::GetToolsFromImage(const char* imagePath, const char* localPath)
{
    if (!m_pLua) {
        PyrraDebug::DebugMsg("%s @ %d no image script state\n", kSourceName, __LINE__);
        return IMAGE_EXTRACT_NO_STATE;
    }
    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    ItemRequest request {imagePath, localPath};
    const int status = lua_cpcall(m_pLua, CallDownItem, &request);
    if (status != 0) {
        char text[MAX_PATH_LEN];
        std::snprintf(text, sizeof text, "pcall FAILED %s %d %d", LuaErrorText(m_pLua), status,
            kExtractFailedNumber);
        PyrraDebug::DebugMsg("\n%s\n", text);
        lua_pop(m_pLua, 1);
        return IMAGE_EXTRACT_RAISED;
    }
    return 0;
}

unsigned int KoraImage::LoadToolsPlug()
{
    char toolPath[MAX_PATH_LEN];
    if (!WorkFilePath(m_szModuleDir, kToolsFile, toolPath))
        return IMAGE_PLUG_NO_DIR;
    std::lock_guard<std::recursive_mutex> state(m_stateLock);
    m_pToolIF = nullptr;
    if (!m_pLua) {
        PyrraDebug::DebugMsg("%s @ %d no image script state\n", kSourceName, __LINE__);
        return IMAGE_PLUG_NO_STATE;
    }
    if (luaL_loadfile(m_pLua, toolPath) != 0) {
        PyrraDebug::DebugMsg("Load %s failed\n", toolPath);
        lua_pop(m_pLua, 1);
        return IMAGE_TOOLS_UNREADABLE;
    }
    const int status = RunChunk(m_pLua);
    if (status != 0) {
        char text[MAX_PATH_LEN];
        std::snprintf(text, sizeof text, "pcall FAILED %s %d %d\r\n", LuaErrorText(m_pLua), status,
            kToolsFailedNumber);
        PyrraDebug::DebugMsg("%s\n", text);
        lua_pop(m_pLua, 1);
        return IMAGE_TOOLS_RAISED;
    }
    m_pToolIF = LUA_TOOL_FEX::InitToolIF(m_pLua);
    if (!m_pToolIF)
        return IMAGE_NO_TOOL_IF;
    return 0;
}

unsigned int KoraImage::UnLoadTools()
{
    RemoveTools();
    return 0;
}

void KoraImage::RemoveTools()
{
    for (const char* name : {kToolsFile, kDramFile}) {
        char path[MAX_PATH_LEN];
        if (!WorkFilePath(m_szModuleDir, name, path))
            return;
        // Removed whether readable or not, so no stale tool script survives.
        if (unlink(path) != 0 && errno != ENOENT)
            PyrraDebug::DebugMsg("unlink %s error: %s\n", path, std::strerror(errno));
    }
}
