// The runner vemora-cli flashing sparse images of 1, 2 and 5 GiB into a
// simulated board preloaded into it (zero-latency link): its peak resident
// memory (from wait4) must stay bounded whatever the image, and the FES
// half's time must grow in proportion to the image. The images are mostly
// holes (the partition's first MiB holds data), so they cost the disk little;
// the board stores zeros as holes too. The image is read through once before
// the timed flashes: on a virtual machine the first filling of the page cache
// pays for memory the host hands over page by page (a plain read of a 5 GiB
// file ran at 4.7 GB/s for its first GiB and 0.6 GB/s over all of it), which
// is not the runner's cost; that first read is reported beside the flashes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

#include "BenchMedians.h"
#include "BenchReport.h"
#include "CliProcess.h"
#include "Pattern.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kGiB = 1ull << 30;

struct RunnerRun {
    double fesSeconds = 0;
    long peakKiB = 0;
};
std::map<int64_t, std::vector<RunnerRun>> g_runs; // by GiB
std::map<int64_t, double> g_firstRead;            // seconds, by GiB

// A sparse partition file of `bytes`: a MiB of the pattern, then holes.
std::string SparsePartition(const ScratchDir& dir, uint64_t bytes)
{
    const std::string path = dir / ("part-" + std::to_string(bytes));
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::vector<uint8_t> data = Pattern(kMiB, 5);
    const bool made = fd >= 0 && write(fd, data.data(), data.size()) == ssize_t(data.size())
        && ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    if (fd >= 0)
        close(fd);
    return made ? path : "";
}

// The reference script, the sample's second stage and a partition of
// `bytes` (crossing the 4 GiB line for 5 GiB), packed with vemora-imgtool.
std::string SparseImage(const ScratchDir& dir, uint64_t bytes)
{
    const std::string part = SparsePartition(dir, bytes);
    const std::string image = dir / ("sparse-" + std::to_string(bytes) + ".img");
    WriteFile(dir / "image.manifest",
        "item UPFLYTLS xxxxxxxxxxxxxxxx \"" VEMORA_SOURCE_DIR "/sample/tools.lua\"\n"
        "item FES2BOOT secondstage \"" SAMPLE_GEN_DIR "/secondstage.bin\" target=0x4A000000\n"
        "item PARTITON rootfs \""
            + part + "\" target=0x100000\n");
    const std::string command = BinPath("vemora-imgtool") + " pack " + image + " "
        + (dir / "image.manifest") + " > /dev/null";
    return !part.empty() && std::system(command.c_str()) == 0 ? image : "";
}

// Seconds one plain sequential read of the file takes, in 4 MiB reads; -1
// when it cannot be read.
double ReadThrough(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::vector<char> chunk(4 * kMiB);
    const auto start = std::chrono::steady_clock::now();
    ssize_t n;
    while ((n = read(fd, chunk.data(), chunk.size())) > 0) { }
    close(fd);
    if (n < 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Memory-backed when the machine has it: a hole read there costs no page.
std::string FlashFolder(const ScratchDir& files)
{
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : files.path();
}

// "FES half 2.18 s" of the summary line.
double FesSeconds(const std::string& output)
{
    const std::vector<std::string> lines = LinesWith(output, ", FES half ");
    if (lines.empty())
        return 0;
    const std::string& line = lines.back();
    return std::atof(line.c_str() + line.find(", FES half ") + 11);
}

void SparseFlash(benchmark::State& state)
{
    const int64_t gib = state.range(0);
    const ScratchDir files;
    const std::string image = SparseImage(files, static_cast<uint64_t>(gib) * kGiB);
    if (image.empty()) {
        state.SkipWithError("the image could not be made");
        return;
    }
    const double firstRead = ReadThrough(image);
    if (firstRead < 0) {
        state.SkipWithError("the image could not be read");
        return;
    }
    g_firstRead[gib] = firstRead;
    for (auto _ : state) {
        CliOptions options;
        options.args = {"--count", "1", "--plain", image};
        options.variables = {"VEMORA_SIM_BOARDS=1", "VEMORA_SIM_FES_DELAY_MS=0",
            "VEMORA_SIM_FLASH_SIZE=" + std::to_string(gib + 1) + "G",
            "VEMORA_SIM_FLASH_DIR=" + FlashFolder(files)};
        CliProcess runner(options);
        const int status = runner.Finish(std::chrono::minutes(10));
        RunnerRun run {FesSeconds(runner.Output()), runner.PeakMemoryKiB()};
        if (status != 0 || run.fesSeconds <= 0) {
            state.SkipWithError("the runner did not flash the board");
            std::fprintf(stderr, "%s\n", runner.Output().c_str());
            return;
        }
        state.SetIterationTime(run.fesSeconds);
        g_runs[gib].push_back(run);
    }
    const RunnerRun& last = g_runs[gib].back();
    state.counters["peak_MiB"] = static_cast<double>(last.peakKiB) / 1024;
    state.counters["s_per_GiB"] = last.fesSeconds / static_cast<double>(gib);
}
BENCHMARK(SparseFlash)
    ->Arg(1)
    ->Arg(2)
    ->Arg(5)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

template <typename T> T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? T {} : values[values.size() / 2];
}

void ReportFigures()
{
    std::map<int64_t, double> perGiB;
    long peak = 0;
    for (const auto& [gib, runs] : g_runs) {
        std::vector<double> seconds;
        for (const RunnerRun& run : runs) {
            seconds.push_back(run.fesSeconds);
            peak = std::max(peak, run.peakKiB);
        }
        perGiB[gib] = Median(seconds) / static_cast<double>(gib);
        ReportFigure("runner.time." + std::to_string(gib) + "g", Median(seconds), "s",
            "vemora-cli, sparse image of " + std::to_string(gib) + " GiB: FES half");
        long imagePeak = 0;
        for (const RunnerRun& run : runs)
            imagePeak = std::max(imagePeak, run.peakKiB);
        ReportFigure("runner.peak." + std::to_string(gib) + "g",
            static_cast<double>(imagePeak) / 1024, "MiB",
            "vemora-cli, sparse image of " + std::to_string(gib)
                + " GiB: peak resident memory (simulated board included)");
        if (g_firstRead.count(gib))
            ReportFigure("runner.firstread." + std::to_string(gib) + "g", g_firstRead[gib], "s",
                "the same image read once with plain 4 MiB reads before its flashes (the page "
                "cache filled for the first time)");
    }
    if (perGiB.count(1) && perGiB.count(5))
        ReportFigure("runner.linearity", perGiB[5] / perGiB[1], "x",
            "time per GiB flashing 5 GiB against flashing 1 GiB");
}

} // namespace

int main(int argc, char** argv)
{
    // Three repetitions of each size; the figures are their medians.
    if (!InitializeForMedians(argc, argv, 3))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    ReportFigures();
    benchmark::Shutdown();
    return 0;
}
