#include "TestSupport.h"

#include "PlgApi.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchDir::ScratchDir()
    : m_oldCwd(fs::current_path())
{
    char pattern[] = "/tmp/scripthost-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
        // Working on in the current directory (build/bin) could delete
        // files there: stop instead.
        std::perror("ScratchDir: mkdtemp");
        std::abort();
    }
    m_path = made;
    fs::current_path(m_path);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::current_path(m_oldCwd, ignored);
    if (!m_path.empty())
        fs::remove_all(m_path, ignored);
}

CapturedLog::CapturedLog()
    : m_outCapture(stdout)
    , m_errCapture(stderr)
{
}

void CapturedLog::Take()
{
    if (m_taken)
        return;
    m_taken = true;
    m_out = m_outCapture.Text();
    m_err = m_errCapture.Text();
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << data;
    ASSERT_TRUE(file.good()) << path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream data;
    data << file.rdbuf();
    return data.str();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string DeepDirectory(const std::string& base, size_t length)
{
    std::string path = base;
    fs::create_directories(path);
    while (path.size() < length) {
        const size_t part = std::min<size_t>(100, length - path.size() - 1);
        path += "/" + std::string(part, 'd');
        fs::create_directory(path);
    }
    fs::current_path(path);
    return path;
}

std::string ScriptPath(const std::string& name)
{
    return std::string(SCRIPTHOST_SCRIPT_DIR) + "/" + name;
}

void CopyScript(const std::string& name, const std::string& to)
{
    const std::string source = ScriptPath(name);
    ASSERT_TRUE(FileExists(source)) << source;
    WriteFile(to, ReadFile(source));
}

std::vector<WindowCall> WindowDouble::calls;
int WindowDouble::answer = 0;

namespace {

const char* Text(const void* p)
{
    return p ? static_cast<const char*>(p) : "<null>";
}

int Record(WindowCall::Slot slot, void* ctx, unsigned int code, const void* text)
{
    WindowDouble::calls.push_back({slot, ctx, code, Text(text), ""});
    return 0;
}

} // namespace

VemoCallbackFun WindowDouble::Callbacks()
{
    VemoCallbackFun cb {};
    cb.pfnBurnBegin = [](void* ctx, unsigned int arm, void*) {
        return Record(WindowCall::Begin, ctx, arm, "");
    };
    cb.pfnBurnProcess = [](void* ctx, unsigned int percent, const char* text) {
        return Record(WindowCall::Process, ctx, percent, text);
    };
    cb.pfnBurnError = [](void* ctx, unsigned int code, const char* text) {
        return Record(WindowCall::Error, ctx, code, text);
    };
    cb.pfnBurnWarning = [](void* ctx, unsigned int code, const char* text) {
        return Record(WindowCall::Warning, ctx, code, text);
    };
    cb.pfnBurnOver = [](void* ctx, unsigned int code, const char* text) {
        return Record(WindowCall::Over, ctx, code, text);
    };
    cb.pfnUpdateTipInfo = [](void* ctx, unsigned int code, void*) {
        return Record(WindowCall::TipInfo, ctx, code, "");
    };
    cb.pfnLoadDynamic = [](void* ctx, unsigned char*, unsigned int*) {
        return Record(WindowCall::LoadDynamic, ctx, 0, "");
    };
    cb.pfnMessageBox = [](void* ctx, void* first, void* second) {
        WindowDouble::calls.push_back({WindowCall::MessageBox, ctx, 0, Text(first), Text(second)});
        return WindowDouble::answer;
    };
    return cb;
}

void WindowDouble::Install()
{
    Install(Callbacks());
}

void WindowDouble::Install(const VemoCallbackFun& callbacks)
{
    static int windowHandle;
    ASSERT_EQ(0, Plg().InitVemoProc(&windowHandle, callbacks));
    calls.clear();
    answer = 0;
}

lua_State* NewLua()
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    return L;
}

std::string RunLua(lua_State* L, const std::string& chunk)
{
    if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
        std::string error = lua_tostring(L, -1);
        lua_pop(L, 1);
        return error;
    }
    return "";
}

std::string GlobalText(lua_State* L, const char* name)
{
    lua_getglobal(L, "tostring");
    lua_getglobal(L, name);
    lua_call(L, 1, 1);
    std::string text = lua_tostring(L, -1);
    lua_pop(L, 1);
    return text == "nil" ? "" : text;
}
