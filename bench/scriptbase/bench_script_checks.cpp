// What checking handles and byte ranges costs a script: script functions of
// scriptbase.dll and blockcrypt.dll called from Lua, one call per loop turn,
// side by side with unchecked copies of the same functions (the binding as
// it was before the checks, kept here only) on the same buffers, with 64
// more live buffers in the registry. Targets: the check adds under 100 ns
// per call, and RC6 one block per call stays above 100 MB/s.
#include "BenchMedians.h"
#include "BenchReport.h"
#include "BlockCrypt.h"
#include "LibraryBeside.h"
#include "ModulePath.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <lua.hpp>
#include <string>
#include <vector>

namespace {

constexpr int kCallsPerRun = 256;
constexpr double kMaxAddedNs = 100;
constexpr double kMinCipherMBps = 100;

// The plain functions the unchecked copies call, from the loaded libraries.
decltype(&Encode) g_encode = nullptr;
decltype(&Decode) g_decode = nullptr;
unsigned int (*g_addSum)(unsigned char*, unsigned int, unsigned int) = nullptr;

unsigned char* RawBuffer(lua_State* L, int index)
{
    void* p = lua_touserdata(L, index);
    if (!p)
        luaL_argerror(L, index, "buffer handle is null");
    return static_cast<unsigned char*>(p);
}

int32_t RawCount(lua_State* L, int index)
{
    const auto count = static_cast<int32_t>(lua_tointeger(L, index));
    if (count < 0)
        luaL_argerror(L, index, "count must not be negative");
    return count;
}

int RawEncode(lua_State* L)
{
    g_encode(lua_touserdata(L, 1), static_cast<unsigned char*>(lua_touserdata(L, 2)),
        static_cast<unsigned char*>(lua_touserdata(L, 3)));
    return 1;
}

int RawDecode(lua_State* L)
{
    g_decode(lua_touserdata(L, 1), static_cast<unsigned char*>(lua_touserdata(L, 2)),
        static_cast<unsigned char*>(lua_touserdata(L, 3)));
    return 1;
}

int RawMemcpy(lua_State* L)
{
    const int32_t count = RawCount(L, 3);
    std::memmove(RawBuffer(L, 1), RawBuffer(L, 2), count);
    return 1;
}

int RawMemset(lua_State* L)
{
    const int32_t count = RawCount(L, 3);
    std::memset(RawBuffer(L, 1), static_cast<int>(lua_tointeger(L, 2) & 0xFF), count);
    return 1;
}

int RawMemcmp(lua_State* L)
{
    const int32_t count = RawCount(L, 3);
    lua_pushinteger(L, std::memcmp(RawBuffer(L, 1), RawBuffer(L, 2), count));
    return 1;
}

int RawAddSum(lua_State* L)
{
    const int32_t length = RawCount(L, 2);
    lua_pushnumber(
        L, g_addSum(RawBuffer(L, 1), length, static_cast<unsigned int>(lua_tointeger(L, 3))));
    return 1;
}

int RawGetInt32(lua_State* L)
{
    uint32_t v;
    std::memcpy(&v, RawBuffer(L, 1) + lua_tointeger(L, 2), sizeof v);
    lua_pushnumber(L, v);
    return 1;
}

struct Op {
    const char* name;
    const char* checked;
    const char* unchecked;
    lua_CFunction raw;
    const char* args; // Lua expressions over ctx, block, block2, big, big2
    int bytes;
};

const Op kOps[] = {
    {"Dec_Encode 16 B", "Dec_Encode", "raw_Encode", RawEncode, "ctx, block, block", 16},
    {"Dec_Decode 16 B", "Dec_Decode", "raw_Decode", RawDecode, "ctx, block, block", 16},
    {"Dec_Encode 16 B apart", "Dec_Encode", "raw_Encode", RawEncode, "ctx, block, block2", 16},
    {"Memcpy 32 KiB", "Memcpy", "raw_Memcpy", RawMemcpy, "big2, big, 32768", 32768},
    {"Memset 32 KiB", "Memset", "raw_Memset", RawMemset, "big, 90, 32768", 32768},
    {"Memcmp 32 KiB", "Memcmp", "raw_Memcmp", RawMemcmp, "big, big2, 32768", 32768},
    {"add_sum 32 KiB", "add_sum", "raw_add_sum", RawAddSum, "big, 32768, 0", 32768},
    {"GetInt32FrmMem 4 B", "GetInt32FrmMem", "raw_GetInt32FrmMem", RawGetInt32, "big, 100", 4},
};

lua_State* g_L = nullptr;

std::string BenchName(const Op& op, bool checked)
{
    return std::string(op.name) + (checked ? "/checked" : "/unchecked");
}

bool Fail(const char* what, const char* why)
{
    std::fprintf(stderr, "%s: %s\n", what, why ? why : "");
    return false;
}

bool RunChunk(const std::string& chunk)
{
    if (luaL_dostring(g_L, chunk.c_str()) != 0)
        return Fail("Lua", lua_tostring(g_L, -1));
    return true;
}

// A state as a tool script has it, the unchecked copies beside the real
// functions, the buffers and the context, and one loop function per
// benchmark in the global table "loops".
bool SetUp()
{
    void* scriptbase = OpenBeside("scriptbase.dll");
    void* blockcrypt = OpenBeside("blockcrypt.dll");
    if (!scriptbase || !blockcrypt)
        return false; // OpenBeside said why
    g_encode = reinterpret_cast<decltype(&Encode)>(dlsym(blockcrypt, "Encode"));
    g_decode = reinterpret_cast<decltype(&Decode)>(dlsym(blockcrypt, "Decode"));
    g_addSum = reinterpret_cast<decltype(g_addSum)>(dlsym(scriptbase, "AddSum"));
    if (!g_encode || !g_decode || !g_addSum)
        return Fail("dlsym", dlerror());

    g_L = luaL_newstate();
    luaL_openlibs(g_L);
    char dir[MAX_PATH_LEN];
    if (GetModuleRelPath("", dir) < 0)
        return false;
    for (const Op& op : kOps)
        lua_register(g_L, op.unchecked, op.raw);
    std::string chunk = "local dir = '" + std::string(dir) + "'\n" + R"(
        for _, lib in ipairs({"scriptbase.dll", "blockcrypt.dll"}) do
            assert(package.loadlib(dir .. lib, "l_RegAllFun"))()
        end
        others = {}
        for i = 1, 64 do others[i] = MallocBuffer(i * 16) end
        block, block2 = MallocBuffer(16), MallocBuffer(16)
        big, big2 = MallocBuffer(32768), MallocBuffer(32768)
        Memset(block, 7, 16); Memset(big, 90, 32768); Memset(big2, 90, 32768)
        local key = MallocBuffer(16)
        Memset(key, 1, 16)
        ctx = Dec_Initial(key, 16)
        loops = {}
    )";
    for (const Op& op : kOps) {
        for (const bool checked : {true, false}) {
            chunk += "loops['" + BenchName(op, checked)
                + "'] = function(n) local f = " + (checked ? op.checked : op.unchecked)
                + " for i = 1, n do f(" + op.args + ") end end\n";
        }
    }
    return RunChunk(chunk);
}

void Loop(benchmark::State& state, const Op& op, bool checked)
{
    lua_getglobal(g_L, "loops");
    lua_getfield(g_L, -1, BenchName(op, checked).c_str());
    const int loop = lua_gettop(g_L);
    for (auto _ : state) {
        lua_pushvalue(g_L, loop);
        lua_pushinteger(g_L, kCallsPerRun);
        if (lua_pcall(g_L, 1, 0, 0) != 0) {
            state.SkipWithError(lua_tostring(g_L, -1));
            break;
        }
    }
    lua_settop(g_L, 0);
    const int64_t calls = state.iterations() * kCallsPerRun;
    state.SetItemsProcessed(calls);
    state.SetBytesProcessed(calls * op.bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (!InitializeForMedians(argc, argv) || !SetUp())
        return 1;
    for (const Op& op : kOps) {
        for (const bool checked : {true, false}) {
            benchmark::RegisterBenchmark(BenchName(op, checked).c_str(),
                [&op, checked](benchmark::State& state) { Loop(state, op, checked); });
        }
    }
    MedianRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);

    bool met = true;
    std::printf("\n%-22s %12s %12s %10s %12s\n", "call from Lua", "unchecked ns", "checked ns",
        "added ns", "checked MB/s");
    for (const Op& op : kOps) {
        const double checked = recorder.Median(BenchName(op, true), "items_per_second");
        const double unchecked = recorder.Median(BenchName(op, false), "items_per_second");
        if (checked <= 0 || unchecked <= 0)
            continue;
        const double added = 1e9 / checked - 1e9 / unchecked;
        const double megabytes = checked * op.bytes / 1e6;
        const bool cipher = op.bytes == 16;
        const bool ok = added < kMaxAddedNs && (!cipher || megabytes > kMinCipherMBps);
        std::printf("%-22s %12.1f %12.1f %10.1f %12.1f%s\n", op.name, 1e9 / unchecked,
            1e9 / checked, added, megabytes, ok ? "" : "  (target missed)");
        std::string key = std::string("checks.") + op.name;
        std::replace(key.begin(), key.end(), ' ', '_');
        ReportFigure(key, std::max(added, 0.0), "ns",
            std::string("handle and range checks: time added to a call of ") + op.name
                + " from Lua");
        met = met && ok;
    }
    std::printf("targets: added < %.0f ns per call; Dec_Encode/Dec_Decode > %.0f MB/s\n",
        kMaxAddedNs, kMinCipherMBps);
    lua_close(g_L);
    benchmark::Shutdown();
    return met ? 0 : 1;
}
