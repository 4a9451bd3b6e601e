#include "SecondStage.h"

#include "BoardTypes.h"
#include "Crc32.h"
#include "Le.h"

#include <cstring>

namespace simdev {
namespace {

constexpr char kMagic[8] = {'V', 'E', 'M', 'O', 'F', 'E', 'S', '2'};

} // namespace

std::string CheckSecondStage(const SparseRam& ram, uint32_t address)
{
    uint8_t header[kSecondStageHeader];
    ram.Read(address, header, sizeof header);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return "no second-stage header";
    const uint32_t length = Le32(header + 8);
    if (length == 0 || length > kSecondStageMaxBody)
        return "second-stage length out of range";
    if (uint64_t {address} + kSecondStageHeader + length > (1ull << 32))
        return "second stage runs past the end of the address space";
    std::vector<uint8_t> body(length);
    ram.Read(address + kSecondStageHeader, body.data(), length);
    if (Crc32(body.data(), length) != Le32(header + 12))
        return "second-stage checksum mismatch";
    return {};
}

std::vector<uint8_t> MakeSecondStage(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> image(kSecondStageHeader + body.size());
    std::memcpy(image.data(), kMagic, sizeof kMagic);
    PutLe32(image.data() + 8, static_cast<uint32_t>(body.size()));
    PutLe32(image.data() + 12, Crc32(body.data(), body.size()));
    std::copy(body.begin(), body.end(), image.begin() + kSecondStageHeader);
    return image;
}

} // namespace simdev
