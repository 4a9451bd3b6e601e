// Wraps a body into the second-stage payload the simulated board runs
// (docs/simulated-device.md): "VEMOFES2", body length, CRC-32 of the body,
// then the body, all little-endian. Used to build the sample image.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>
#include <zlib.h>

namespace {

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vemora-sample-payload <body file> <payload file>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vemora-sample-payload: cannot open %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> body((std::istreambuf_iterator<char>(in)), {});
    if (body.empty() || body.size() > (16u << 20)) {
        std::fprintf(stderr, "vemora-sample-payload: %s must hold 1 byte to 16 MiB\n", argv[1]);
        return 1;
    }
    uint8_t header[16] = {'V', 'E', 'M', 'O', 'F', 'E', 'S', '2'};
    PutLe32(header + 8, static_cast<uint32_t>(body.size()));
    PutLe32(
        header + 12, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(
        reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "vemora-sample-payload: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
