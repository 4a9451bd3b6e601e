// Throughput of blockcrypt.dll's RC6 against Crypto++'s RC6, block by block
// as scripts call it, in one run. Prints both bytes_per_second counters and
// their ratio; fails when ours is slower.
#include "BenchMedians.h"
#include "BenchReport.h"
#include "BlockCrypt.h"
#include "LibraryBeside.h"

#include <benchmark/benchmark.h>
#include <cryptopp/rc6.h>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 16;
constexpr size_t kBufferBytes = 16 * 1024;

struct Library {
    decltype(&Initial) initial = nullptr;
    decltype(&Encode) encode = nullptr;
    decltype(&Decode) decode = nullptr;
    decltype(&UnInitial) unInitial = nullptr;
};

Library g_lib;

bool LoadLibrary()
{
    void* handle = OpenBeside("blockcrypt.dll");
    if (!handle)
        return false;
    g_lib.initial = reinterpret_cast<decltype(&Initial)>(dlsym(handle, "Initial"));
    g_lib.encode = reinterpret_cast<decltype(&Encode)>(dlsym(handle, "Encode"));
    g_lib.decode = reinterpret_cast<decltype(&Decode)>(dlsym(handle, "Decode"));
    g_lib.unInitial = reinterpret_cast<decltype(&UnInitial)>(dlsym(handle, "UnInitial"));
    return g_lib.initial && g_lib.encode && g_lib.decode && g_lib.unInitial;
}

unsigned char g_key[16] = {
    0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78};

std::vector<unsigned char> Data()
{
    std::vector<unsigned char> data(kBufferBytes);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 31 + 7);
    return data;
}

template <bool kEncrypt> void Ours(benchmark::State& state)
{
    void* ctx = g_lib.initial(g_key, sizeof g_key);
    const auto process = kEncrypt ? g_lib.encode : g_lib.decode;
    std::vector<unsigned char> data = Data();
    for (auto _ : state) {
        for (size_t off = 0; off < data.size(); off += kBlock)
            process(ctx, data.data() + off, data.data() + off);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    g_lib.unInitial(ctx);
}

template <class Cipher> void CryptoPlusPlus(benchmark::State& state)
{
    Cipher cipher(g_key, sizeof g_key);
    std::vector<unsigned char> data = Data();
    for (auto _ : state) {
        for (size_t off = 0; off < data.size(); off += kBlock)
            cipher.ProcessBlock(data.data() + off);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK_TEMPLATE(Ours, true)->Name("Encrypt/blockcrypt");
BENCHMARK_TEMPLATE(CryptoPlusPlus, CryptoPP::RC6::Encryption)->Name("Encrypt/CryptoPP");
BENCHMARK_TEMPLATE(Ours, false)->Name("Decrypt/blockcrypt");
BENCHMARK_TEMPLATE(CryptoPlusPlus, CryptoPP::RC6::Decryption)->Name("Decrypt/CryptoPP");

} // namespace

int main(int argc, char** argv)
{
    if (!InitializeForMedians(argc, argv) || !LoadLibrary())
        return 1;
    MedianRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);

    bool fastEnough = true;
    for (const char* op : {"Encrypt", "Decrypt"}) {
        const double ours = recorder.Median(std::string(op) + "/blockcrypt", "bytes_per_second");
        const double theirs = recorder.Median(std::string(op) + "/CryptoPP", "bytes_per_second");
        if (ours <= 0 || theirs <= 0)
            continue;
        const double ratio = ours / theirs;
        std::printf("%s: blockcrypt %.1f MB/s, Crypto++ %.1f MB/s, ratio %.2f%s\n", op, ours / 1e6,
            theirs / 1e6, ratio, ratio >= 1.0 ? "" : " (slower than Crypto++)");
        fastEnough = fastEnough && ratio >= 1.0;
        ReportFigure(std::string("rc6.") + (op[0] == 'E' ? "encrypt" : "decrypt"), ratio, "x",
            std::string("blockcrypt.dll's RC6 against Crypto++'s, ") + op + ", block by block");
    }
    benchmark::Shutdown();
    return fastEnough ? 0 : 1;
}
