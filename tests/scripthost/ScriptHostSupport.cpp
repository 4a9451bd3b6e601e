#include "ScriptHostSupport.h"

#include "PlgApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

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
