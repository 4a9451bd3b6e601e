// CRC-32 as tool scripts get it (calc_crc32 of scriptbase.dll, the host-side
// export behind the script function) against zlib's crc32, in one run, over
// buffers of the sizes scripts checksum: a command block's worth, a chunk of
// an item, a FES command's data. Prints the ratio per size.
#include "BenchMedians.h"
#include "BenchReport.h"
#include "LibraryBeside.h"
#include "Pattern.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <dlfcn.h>
#include <zlib.h>

namespace {

using CalcCrc32 = unsigned int (*)(void*, unsigned int);
CalcCrc32 g_calc = nullptr;

bool LoadLibrary()
{
    void* handle = OpenBeside("scriptbase.dll");
    if (!handle)
        return false;
    g_calc = reinterpret_cast<CalcCrc32>(dlsym(handle, "calc_crc32"));
    return g_calc != nullptr;
}

template <bool kOurs> void Crc(benchmark::State& state)
{
    std::vector<uint8_t> data = Pattern(static_cast<size_t>(state.range(0)), 1);
    const auto length = static_cast<unsigned int>(data.size());
    for (auto _ : state) {
        const unsigned long crc
            = kOurs ? g_calc(data.data(), length) : crc32(0, data.data(), length);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

constexpr int64_t kSizes[] = {4 << 10, 256 << 10, 4 << 20};

BENCHMARK_TEMPLATE(Crc, true)->Name("calc_crc32")->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK_TEMPLATE(Crc, false)->Name("zlib")->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);

} // namespace

int main(int argc, char** argv)
{
    if (!InitializeForMedians(argc, argv) || !LoadLibrary())
        return 1;
    MedianRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    for (const int64_t size : kSizes) {
        const std::string arg = "/" + std::to_string(size);
        const double ours = recorder.Median("calc_crc32" + arg, "bytes_per_second");
        const double zlib = recorder.Median("zlib" + arg, "bytes_per_second");
        if (ours <= 0 || zlib <= 0)
            continue;
        std::printf("CRC-32 of %lld KiB: calc_crc32 %.0f MB/s, zlib %.0f MB/s, ratio %.2f\n",
            static_cast<long long>(size >> 10), ours / 1e6, zlib / 1e6, ours / zlib);
        ReportFigure("crc32.ratio." + std::to_string(size >> 10) + "k", ours / zlib, "x",
            "calc_crc32 against zlib's crc32, " + std::to_string(size >> 10) + " KiB buffers");
    }
    benchmark::Shutdown();
    return 0;
}
