// Crc32 against zlib's crc32, the definition of the checksum: every length
// around the folding's 64- and 16-byte steps, at every alignment, continued
// from earlier results.
#include "Crc32.h"

#include "Pattern.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

TEST(Crc32, MatchesZlibForEveryLengthAlignmentAndSeed)
{
    const std::vector<uint8_t> data = Pattern(4096 + 64, 15);
    for (const uint32_t seed : {0u, 0xCBF43926u, 0xFFFFFFFFu}) {
        for (size_t offset = 0; offset < 16; ++offset) {
            for (size_t length = 0; length <= 4096; length += length < 300 ? 1 : 61) {
                const uint8_t* at = data.data() + offset;
                ASSERT_EQ(crc32(seed, at, static_cast<uInt>(length)), Crc32(at, length, seed))
                    << "length " << length << " offset " << offset << " seed " << seed;
            }
        }
    }
    const char digits[] = "123456789";
    EXPECT_EQ(0xCBF43926u, Crc32(digits, 9));
}

TEST(Crc32, PiecesJoinAsOneRun)
{
    const std::vector<uint8_t> data = Pattern(1 << 20, 3);
    uint32_t joined = 0;
    for (size_t at = 0; at < data.size(); at += 4099)
        joined = Crc32(data.data() + at, std::min<size_t>(4099, data.size() - at), joined);
    EXPECT_EQ(Crc32(data.data(), data.size()), joined);
    EXPECT_EQ(crc32(0, data.data(), static_cast<uInt>(data.size())), joined);
}

} // namespace
