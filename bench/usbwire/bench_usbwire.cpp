// Host-side cost of one FEX command through usbwire.dll: the driver stand-in
// answers every request at once, so what is measured is the transport plus
// the request hand-over, without any USB time.
#include "BenchMedians.h"
#include "BenchReport.h"
#include "SimDriver.h"
#include "UsbwireTable.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Takes every write and answers every read as a device that is always ready:
// status replies "QXUS" with status 0, FEX status 0, data as zeros.
class AcceptAll : public simdrv::DeviceModel {
public:
    int Send(const uint8_t*, uint32_t) override
    {
        ++requests;
        return 0;
    }
    int Recv(uint8_t* data, uint32_t length) override
    {
        ++requests;
        std::memset(data, 0, length);
        if (length == 13)
            std::memcpy(data, "QXUS", 4);
        return 0;
    }
    long requests = 0;
};

constexpr const char* kNode = "/dev/qx_efex_bench";

// CMD_FES_TRANS of state.range(0) bytes, host to device (bits 4-5 of byte 13
// = 1) or device to host (= 2).
void FesTrans(benchmark::State& state, uint8_t direction)
{
    tag_EFEX_IF* fex = UsbwireTable();
    if (!fex) {
        state.SkipWithError("usbwire.dll not loadable");
        return;
    }
    auto model = std::make_shared<AcceptAll>();
    simdrv::AttachNode(kNode, model);
    void* handle = nullptr;
    if (fex->Fex_Open(&handle, const_cast<char*>(kNode)) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    const auto length = static_cast<unsigned>(state.range(0));
    std::vector<unsigned char> data(length, 0xA5);
    unsigned char block[16] = {0x01, 0x02};
    std::memcpy(block + 8, &length, 4);
    block[13] = static_cast<uint8_t>(direction << 4);

    for (auto _ : state) {
        if (fex->Fex_command(&handle, block, data.data(), length) != 0) {
            state.SkipWithError("command failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    const double bytes = double(state.iterations()) * length;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["requests/command"]
        = double(model->requests) / double(state.iterations() ? state.iterations() : 1);
    fex->Fex_Close(&handle);
    simdrv::DetachNode(kNode);
}

void BM_FexCommandWrite(benchmark::State& state)
{
    FesTrans(state, 1);
}
void BM_FexCommandRead(benchmark::State& state)
{
    FesTrans(state, 2);
}

constexpr int64_t kSizes[] = {32 * 1024, 320 * 1024, 4 << 20};
BENCHMARK(BM_FexCommandWrite)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_FexCommandRead)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);

} // namespace

int main(int argc, char** argv)
{
    if (!InitializeForMedians(argc, argv, 3))
        return 1;
    MedianRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    for (const char* way : {"Write", "Read"}) {
        for (const int64_t size : kSizes) {
            const double perSecond
                = recorder.Median(std::string("BM_FexCommand") + way + "/" + std::to_string(size),
                    "items_per_second");
            if (perSecond <= 0)
                continue;
            const std::string kib = std::to_string(size >> 10) + " KiB";
            ReportFigure(std::string("usbwire.") + (way[0] == 'W' ? "write." : "read.")
                    + std::to_string(size >> 10) + "k",
                1e6 / perSecond, "us",
                std::string("host cost of one FEX command ") + (way[0] == 'W' ? "to" : "from")
                    + " a device that answers at once, " + kib
                    + " (transport and driver stand-in)");
        }
    }
    benchmark::Shutdown();
    return 0;
}
