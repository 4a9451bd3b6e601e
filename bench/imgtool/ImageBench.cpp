// Throughput and memory of the image tools on a 64 MiB item: the tool's pack
// and extract (child's peak memory from wait4), and imgdec_fun.lua's
// Img_DownItemToLocal in a Lua state as the program runs it. Memory must stay
// bounded by the chunk size, not grow with the item.
#include "Files.h"
#include "LuaTest.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kItemSize = 64u << 20;
constexpr long kMemoryLimitKiB = 32 * 1024;

// The 64 MiB item and its manifest, made once in a scratch folder that goes
// when the program ends.
struct BenchFiles {
    BenchFiles();
    ScratchDir dir;
    std::string data = dir / "part.bin";
    std::string manifest = dir / "m.txt";
    std::string image = dir / "bench.img";
};

BenchFiles::BenchFiles()
{
    FILE* out = std::fopen(data.c_str(), "wb");
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < kItemSize / block.size(); ++i) {
        for (size_t k = 0; k < block.size(); k += 64)
            block[k] = static_cast<char>(i + k);
        std::fwrite(block.data(), 1, block.size(), out);
    }
    std::fclose(out);
    WriteFile(manifest, "item PARTITON bench part.bin\n");
}

const BenchFiles& Inputs()
{
    static const BenchFiles files;
    return files;
}

// Runs vemora-imgtool quietly; returns its peak memory in KiB, or -1.
long RunTool(const std::vector<std::string>& args)
{
    const std::string tool = "./vemora-imgtool";
    std::vector<char*> argv {const_cast<char*>(tool.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

void Finish(benchmark::State& state, long peakKiB)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kItemSize);
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024;
    if (peakKiB > kMemoryLimitKiB)
        state.SkipWithError("memory grows with the item");
}

void BM_ImgtoolPack(benchmark::State& state)
{
    const BenchFiles& f = Inputs();
    long peak = 0;
    for (auto _ : state) {
        peak = RunTool({"pack", f.image, f.manifest});
        if (peak < 0) {
            state.SkipWithError("pack failed");
            return;
        }
    }
    Finish(state, peak);
}
BENCHMARK(BM_ImgtoolPack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImgtoolExtract(benchmark::State& state)
{
    const BenchFiles& f = Inputs();
    if (RunTool({"pack", f.image, f.manifest}) < 0) {
        state.SkipWithError("pack failed");
        return;
    }
    long peak = 0;
    for (auto _ : state) {
        peak = RunTool({"extract", f.image, "PARTITON", "bench", f.dir / "out.bin"});
        if (peak < 0) {
            state.SkipWithError("extract failed");
            return;
        }
    }
    Finish(state, peak);
}
BENCHMARK(BM_ImgtoolExtract)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImgdecDownItemToLocal(benchmark::State& state)
{
    const BenchFiles& f = Inputs();
    if (RunTool({"pack", f.image, f.manifest}) < 0) {
        state.SkipWithError("pack failed");
        return;
    }
    lua_State* L = NewLua();
    // calc_crc32 logs every chunk; keep the report readable.
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    bool ok = luaL_dofile(L, "./imgdec_fun.lua") == 0;
    const long before = [] {
        rusage u {};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_maxrss;
    }();
    for (auto _ : state) {
        if (!ok)
            break;
        lua_getglobal(L, "Img_DownItemToLocal");
        lua_pushstring(L, f.image.c_str());
        lua_pushstring(L, "PARTITON");
        lua_pushstring(L, "bench");
        lua_pushstring(L, (f.dir / "lua.bin").c_str());
        ok = lua_pcall(L, 4, 0, 0) == 0;
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    if (!ok) {
        state.SkipWithError(lua_tostring(L, -1));
        lua_close(L);
        return;
    }
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    lua_close(L);
    // Growth of this process's peak while extracting.
    Finish(state, u.ru_maxrss - before);
}
BENCHMARK(BM_ImgdecDownItemToLocal)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
