// Whole flashes as a factory line makes them: VemoProc.Plg loaded as the
// window loads it, a simulated board plugged in FEL, the image's tool script
// (the reference script, sample/tools.lua) taking it through FEL and FES.
// Measured from the plug-in's own milestones: the FES half (VEMO_TIP_FES_
// STARTED to VEMO_TIP_FES_ENDED) writes, reads back and checks the
// partitions; MB/s are partition bytes per second of it.
//
// - HostPipeline: a zero-latency board, so everything measured is host work
//   (image reading, the script, the transport, the driver stand-in) and the
//   simulator's own.
// - CommandSize: the same script with FES commands of another size, on the
//   USB 2.0 profile (LinkModel::UsbHighSpeed) and on a zero-latency board.
//   On the link, the run is set against what the profile itself needs for the
//   transfers the board received (its latency per transfer and its bandwidth
//   for every byte of every driver request): the host's share is the rest.
//
// Figures go to tools/bench.sh through BenchReport.h.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "BenchMedians.h"
#include "BenchReport.h"
#include "Files.h"
#include "Pattern.h"
#include "SessionHost.h"
#include "SimDevice.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kFlashSize = 1ull << 30;
constexpr uint64_t kSweepLinkBytes = 32 * kMiB;
constexpr uint64_t kSweepHostBytes = 128 * kMiB;
constexpr int64_t kSweepFirst = 32 << 10;
constexpr int64_t kSweepLast = 16 << 20;
// The bytes of one USB transfer besides its data phase: request block and
// status reply.
constexpr uint64_t kTransferFrame = 32 + 13;
const char kCommandLine[] = "local FES_COMMAND = ";

// What one flash took.
struct FlashRun {
    std::string error; // empty: the run flashed the board well
    double fesSeconds = 0;
    simdev::WireStats fes; // what the board received in FES
};

// Memory-backed when the machine has it, so that the board's flash file is
// not written out to a disk while it is measured.
std::string FlashFolder()
{
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "";
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The plug-in, its monitor and the bus: one for the whole program, since the
// plug-in's manager is one per process. Close() removes its files.
class Rig {
public:
    static Rig& Get()
    {
        if (!s_rig)
            s_rig.reset(new Rig);
        return *s_rig;
    }
    static void Close() { s_rig.reset(); }

    bool Ok() const { return m_ok; }
    const ScratchDir& Files() const { return m_files; }

    // Flashes a fresh board with `image` over `link`.
    FlashRun Flash(const std::string& image, const simdev::LinkModel& link)
    {
        FlashRun run;
        SessionHost& host = SessionHost::Get();
        if (host.Load(image) != 0) {
            run.error = "the plug-in refused the image";
            return run;
        }
        const size_t mark = host.Mark();
        simdev::BoardOptions options;
        options.link = link;
        options.flash_size = kFlashSize;
        options.flash_dir = FlashFolder();
        options.fes_delay = std::chrono::milliseconds(0);
        auto board = m_bus.Plug(options);
        if (!board) {
            run.error = m_bus.Error();
            return run;
        }
        // Nothing reaches the FES node before the monitor has taken its
        // arrival, so what the board has received by now is its FEL half's.
        simdev::WireStats before {};
        if (board->WaitForStage(simdev::Stage::Fes, 30s))
            before = board->Stats();
        if (!host.WaitForCall(mark, HostCall::Tip, VEMO_TIP_FES_ENDED, 600s)) {
            run.error = "the FES half did not end";
        } else {
            const auto started = host.Since(mark, HostCall::Tip, VEMO_TIP_FES_STARTED);
            const auto ended = host.Since(mark, HostCall::Tip, VEMO_TIP_FES_ENDED);
            const auto over = host.Since(mark, HostCall::Over);
            const auto errors = host.Since(mark, HostCall::Error);
            if (ended[0].tip.result != 0 || over.empty() || !errors.empty())
                run.error = errors.empty() ? "the run failed" : errors[0].text;
            else if (!started.empty())
                run.fesSeconds = Seconds(ended[0].at - started[0].at);
            const simdev::WireStats after = board->Stats();
            run.fes.requests = after.requests - before.requests;
            run.fes.transfers = after.transfers - before.transfers;
            run.fes.commands = after.commands - before.commands;
            run.fes.bytes_to_board = after.bytes_to_board - before.bytes_to_board;
            run.fes.bytes_to_host = after.bytes_to_host - before.bytes_to_host;
            run.fes.storage_ns = after.storage_ns - before.storage_ns;
        }
        m_bus.Unplug(*board);
        // The monitor reads the departure before the next board comes.
        m_bus.WaitAllRead(10s);
        return run;
    }

    // A partition file of `bytes` of the test pattern, made once.
    std::string Partition(uint64_t bytes)
    {
        const std::string path = m_files / ("part-" + std::to_string(bytes));
        if (FileExists(path))
            return path;
        FILE* out = std::fopen(path.c_str(), "wb");
        for (uint64_t done = 0; out && done < bytes; done += kMiB) {
            const auto block = Pattern(std::min(kMiB, bytes - done), static_cast<uint32_t>(done));
            std::fwrite(block.data(), 1, block.size(), out);
        }
        if (out)
            std::fclose(out);
        return path;
    }

    // The reference script with FES commands of `command` bytes; the script
    // as shipped for 0.
    std::string Script(uint64_t command)
    {
        const std::string shipped = SampleSrc("tools.lua");
        if (command == 0)
            return shipped;
        std::string text = ReadFile(shipped);
        const size_t at = text.find(kCommandLine);
        if (at == std::string::npos)
            return "";
        const size_t value = at + std::strlen(kCommandLine);
        text.replace(value, text.find('\n', value) - value, std::to_string(command));
        const std::string path = m_files / ("tools-" + std::to_string(command) + ".lua");
        WriteFile(path, text);
        return path;
    }

    // An image of the reference script (commands of `command` bytes, 0 as
    // shipped) with the sample's second stage and `lines` of partitions.
    std::string Image(const std::string& name, uint64_t command, const std::string& lines)
    {
        const std::string path = m_files / name;
        if (FileExists(path))
            return path;
        const std::string script = Script(command);
        if (script.empty())
            return "";
        return PackImage(m_files.path(), name,
            "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + script + "\"\nitem FES2BOOT secondstage \""
                + SampleGen("secondstage.bin") + "\" target=0x4A000000\n" + lines);
    }

private:
    Rig()
    {
        for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
            std::filesystem::copy_file(BinPath(name), m_dir / name);
        SessionHost& host = SessionHost::Get();
        host.Start();
        m_ok = host.Started() && m_bus.WaitForListener(5s);
    }

    static std::unique_ptr<Rig> s_rig;
    WorkDir m_dir;      // the plug-in's folder
    ScratchDir m_files; // images and partitions
    simdev::Bus m_bus;
    bool m_ok = false;
};
std::unique_ptr<Rig> Rig::s_rig;

std::string PartitionLine(
    const std::string& sub, const std::string& file, uint64_t target, const char* options = "")
{
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(target));
    return "item PARTITON " + sub + " \"" + file + "\" target=" + hex + options + "\n";
}

// Counters of one flash: "MB/s" partition bytes per second of the FES half;
// "host_MB/s" the same without the board's own work (storing into and
// fetching from its flash file, checksumming: a real board does that on its
// own processor); with a link, "limit_MB/s" what the link itself allows for
// the transfers the board received (its latency per transfer and its
// bandwidth for every byte of every driver request), "of_limit" the
// achieved share of that, "host_of_limit" the share without the board's own
// work, and "moved_MB/s", "limit_moved_MB/s" the same as bytes over the link
// (written and read back).
void Measure(benchmark::State& state, const std::string& image, uint64_t bytes,
    const simdev::LinkModel& link)
{
    Rig& rig = Rig::Get();
    if (!rig.Ok() || image.empty()) {
        state.SkipWithError("the plug-in, its monitor or the image is missing");
        return;
    }
    FlashRun run;
    for (auto _ : state) {
        run = rig.Flash(image, link);
        if (!run.error.empty() || run.fesSeconds <= 0) {
            state.SkipWithError(run.error.c_str());
            return;
        }
        state.SetIterationTime(run.fesSeconds);
    }
    const auto size = static_cast<double>(bytes);
    const double hostSeconds = run.fesSeconds - static_cast<double>(run.fes.storage_ns) / 1e9;
    state.counters["MB/s"] = size / run.fesSeconds / 1e6;
    state.counters["host_MB/s"] = size / hostSeconds / 1e6;
    state.counters["commands"] = static_cast<double>(run.fes.commands);
    if (link.latency_us == 0 && link.bytes_per_second == 0)
        return;
    const simdev::WireStats& s = run.fes;
    const double linkSeconds = static_cast<double>(s.transfers) * link.latency_us / 1e6
        + static_cast<double>(s.bytes_to_board + s.bytes_to_host + s.transfers * kTransferFrame)
            / static_cast<double>(link.bytes_per_second);
    state.counters["limit_MB/s"] = size / linkSeconds / 1e6;
    state.counters["of_limit"] = linkSeconds / run.fesSeconds;
    state.counters["host_of_limit"] = linkSeconds / hostSeconds;
    state.counters["moved_MB/s"] = 2 * size / run.fesSeconds / 1e6;
    state.counters["limit_moved_MB/s"] = 2 * size / linkSeconds / 1e6;
}

// The partitions of HostPipeline: 512 MiB, or VEMORA_BENCH_PIPELINE_MIB
// (smaller for a run under callgrind).
uint64_t PipelineBytes()
{
    const char* mib = std::getenv("VEMORA_BENCH_PIPELINE_MIB");
    const uint64_t value = mib ? std::strtoull(mib, nullptr, 10) : 0;
    return (value >= 2 ? value : 512) * kMiB;
}

// The reference script as shipped, its partitions in three (one the sample's
// encrypted one), zero-latency board.
void HostPipeline(benchmark::State& state)
{
    Rig& rig = Rig::Get();
    const uint64_t bytes = PipelineBytes();
    const uint64_t boot = bytes / 8;
    const std::string image = rig.Image("pipeline.img", 0,
        PartitionLine("boot", rig.Partition(boot), 0x100000)
            + PartitionLine("rootfs", rig.Partition(bytes - boot), 0x100000 + boot)
            + PartitionLine("secure", SampleGen("secure.img"), 0x100000 + bytes, " encrypt"));
    Measure(state, image, bytes + 32768, {});
}
BENCHMARK(HostPipeline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// One partition of `bytes` flashed by the script with FES commands of
// `command` bytes (0: as shipped).
void FlashPartition(benchmark::State& state, uint64_t command, uint64_t bytes, bool usb)
{
    Rig& rig = Rig::Get();
    const std::string image
        = rig.Image("part-" + std::to_string(command) + "-" + std::to_string(bytes) + ".img",
            command, PartitionLine("data", rig.Partition(bytes), 0x100000));
    Measure(state, image, bytes, usb ? simdev::LinkModel::UsbHighSpeed() : simdev::LinkModel {});
}

// The reference script as shipped on the USB 2.0 profile.
void ReferenceUsb2(benchmark::State& state)
{
    FlashPartition(state, 0, kSweepLinkBytes, true);
}
BENCHMARK(ReferenceUsb2)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void CommandSize(benchmark::State& state)
{
    const bool usb = state.range(1) != 0;
    FlashPartition(
        state, static_cast<uint64_t>(state.range(0)), usb ? kSweepLinkBytes : kSweepHostBytes, usb);
}
BENCHMARK(CommandSize)
    ->ArgNames({"bytes", "usb2"})
    ->ArgsProduct({benchmark::CreateRange(kSweepFirst, kSweepLast, 2), {0, 1}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The FES command size of the shipped script, 0 when it cannot be read.
uint64_t ShippedCommand()
{
    const std::string text = ReadFile(SampleSrc("tools.lua"));
    const size_t at = text.find(kCommandLine);
    return at == std::string::npos
        ? 0
        : std::strtoull(text.c_str() + at + std::strlen(kCommandLine), nullptr, 10);
}

std::string Mib(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, bytes >= kMiB ? "%g MiB" : "%g KiB",
        static_cast<double>(bytes) / (bytes >= kMiB ? kMiB : 1024));
    return text;
}

// A median of 0 is a benchmark that did not run.
void Figure(const std::string& key, double median, const std::string& unit, const std::string& what)
{
    ReportFigure(key, median > 0 ? median : -1, unit, what);
}

void ReportFigures(const MedianRecorder& r)
{
    const std::string pipeline = "HostPipeline";
    const std::string reference = "ReferenceUsb2";
    const std::string shipped = Mib(ShippedCommand());
    Figure("flash.host", r.Median(pipeline, "host_MB/s"), "MB/s",
        "host pipeline: the reference script (" + shipped
            + " commands) writes, reads back and checks 512 MiB, zero-latency board, "
              "without the simulated board's own storing");
    Figure("flash.whole", r.Median(pipeline, "MB/s"), "MB/s",
        "the same, the simulated board's storing (fresh page-cache pages) included");
    Figure("flash.usb2.share", r.Median(reference, "host_of_limit"), "of limit",
        "USB 2.0 profile, reference script, 32 MiB: the link's own time for the transfers "
        "made against the time taken, without the simulated board's own storing");
    Figure("flash.usb2.share_whole", r.Median(reference, "of_limit"), "of limit",
        "the same, the simulated board's storing included");
    Figure("flash.usb2.moved", r.Median(reference, "moved_MB/s"), "MB/s",
        "USB 2.0 profile, reference script: bytes over the link (written and read back) per "
        "second");
    Figure("flash.usb2.limit", r.Median(reference, "limit_moved_MB/s"), "MB/s",
        "the profile's own limit for the same transfers");
    for (uint64_t size = kSweepFirst; size <= kSweepLast; size *= 2) {
        const std::string name = "CommandSize/bytes:" + std::to_string(size);
        const std::string usb = name + "/usb2:1";
        const std::string host = name + "/usb2:0";
        const std::string key = "sweep." + std::to_string(size);
        Figure(key + ".moved", r.Median(usb, "moved_MB/s"), "MB/s",
            "USB 2.0, " + Mib(size) + " commands: bytes over the link per second");
        Figure(key + ".limit", r.Median(usb, "limit_moved_MB/s"), "MB/s",
            "USB 2.0, " + Mib(size) + " commands: the profile's limit for the same transfers");
        Figure(key + ".share", r.Median(usb, "host_of_limit"), "of limit",
            "USB 2.0, " + Mib(size) + " commands: share of the limit, board's storing aside");
        Figure(key + ".host", r.Median(host, "host_MB/s"), "MB/s",
            "zero-latency board, " + Mib(size) + " commands: host pipeline");
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Whole flashes take seconds: three repetitions give the medians.
    if (!InitializeForMedians(argc, argv, 3))
        return 1;
    MedianRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    ReportFigures(recorder);
    Rig::Close();
    benchmark::Shutdown();
    return 0;
}
