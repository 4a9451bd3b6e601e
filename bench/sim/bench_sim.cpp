// Flash writes into a simulated board through usbwire.dll, in the command
// layer's 32 KiB chunks. Without a link model this is the simulator's own
// cost, which must stay well above a real link (>= 200 MB/s) so that it never
// hides the host's; with the USB 2.0 high-speed profile it is what a test or
// the demo sees (about 27 MB/s in 32 KiB chunks: 40 MB/s of bytes plus 125 us for each of a
// command's three transfers).
#include "SimDevice.h"
#include "UsbwireTable.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void FlashWrite(benchmark::State& state, simdev::LinkModel link)
{
    tag_EFEX_IF* fex = UsbwireTable();
    if (!fex) {
        state.SkipWithError("usbwire.dll not loadable");
        return;
    }
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.link = link;
    options.flash_size = 1ull << 30;
    options.fes_delay = std::chrono::milliseconds(0);
    auto board = bus.Plug(options);
    std::string node = board->NodePath();
    void* handle = nullptr;
    const auto stage = simdev::MakeSecondStage({1, 2, 3, 4});
    unsigned char down[16] = {0x01, 0x01, 0, 0, 0, 0x10};
    const auto length = static_cast<uint32_t>(stage.size());
    std::memcpy(down + 8, &length, 4);
    unsigned char run[16] = {0x02, 0x01, 0, 0, 0, 0x10};
    if (fex->Fex_Open(&handle, node.data()) != 0
        || fex->Fex_command(&handle, down, const_cast<unsigned char*>(stage.data()), length) != 0
        || fex->Fex_command(&handle, run, nullptr, 0) != 0) {
        state.SkipWithError("no second stage");
        return;
    }
    fex->Fex_Close(&handle);
    if (!board->WaitForStage(simdev::Stage::Fes, std::chrono::seconds(5))) {
        state.SkipWithError("board did not come back in FES");
        return;
    }
    node = board->NodePath();
    fex->Fex_Open(&handle, node.data());

    constexpr uint32_t kChunk = 32768;
    std::vector<unsigned char> data(kChunk, 0xA5);
    unsigned char block[16] = {0x01, 0x02};
    std::memcpy(block + 8, &kChunk, 4);
    block[12] = 0x10; // flash
    block[13] = 0x10; // host to board
    uint32_t offset = 0;
    for (auto _ : state) {
        std::memcpy(block + 4, &offset, 4);
        if (fex->Fex_command(&handle, block, data.data(), kChunk) != 0) {
            state.SkipWithError("flash write failed");
            break;
        }
        offset = (offset + kChunk) % (1u << 30);
    }
    fex->Fex_Close(&handle);
    const double bytes = double(state.iterations()) * kChunk;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_FlashWriteNoLink(benchmark::State& state)
{
    FlashWrite(state, simdev::LinkModel {});
}

void BM_FlashWriteUsbHighSpeed(benchmark::State& state)
{
    FlashWrite(state, simdev::LinkModel::UsbHighSpeed());
}

BENCHMARK(BM_FlashWriteNoLink)->UseRealTime();
BENCHMARK(BM_FlashWriteUsbHighSpeed)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
