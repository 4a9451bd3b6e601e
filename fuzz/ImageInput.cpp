#include "ImageInput.h"

#include <zlib.h>

namespace fuzz {
namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kEntrySize = 128;

uint64_t Get(const std::string& image, size_t at, size_t width)
{
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = value << 8 | static_cast<uint8_t>(image[at + i]);
    return value;
}

void Put32(std::string& image, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        image[at + i] = static_cast<char>(value >> (8 * i));
}

uint32_t Crc(const std::string& image, uint64_t at, uint64_t length)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(image.data() + at), static_cast<uInt>(length)));
}

} // namespace

std::string ImageFromInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return {};
    const uint8_t flags = data[0];
    std::string image(reinterpret_cast<const char*>(data + 1), size - 1);
    if (image.size() < kHeaderSize)
        return image;
    const uint64_t count = Get(image, 16, 4);
    const uint64_t table = Get(image, 24, 8);
    const bool tableInside = count <= image.size() / kEntrySize && table <= image.size()
        && image.size() - table >= count * kEntrySize;
    if (tableInside && (flags & 1)) {
        for (uint64_t i = 0; i < count; ++i) {
            const size_t entry = static_cast<size_t>(table + i * kEntrySize);
            const uint64_t offset = Get(image, entry + 24, 8);
            const uint64_t length = Get(image, entry + 32, 8);
            if (offset <= image.size() && length <= image.size() - offset)
                Put32(image, entry + 48, Crc(image, offset, length));
        }
    }
    if (tableInside && (flags & 2))
        Put32(image, 44, Crc(image, table, count * kEntrySize));
    if (flags & 4) {
        Put32(image, 48, 0);
        Put32(image, 48, Crc(image, 0, kHeaderSize));
    }
    return image;
}

} // namespace fuzz
