#include "SampleFlash.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "Files.h"

::testing::AssertionResult FlashHoldsSample(const std::vector<uint8_t>& flash)
{
    // The files the sample image was packed from, at their targets as in
    // sample/sample.manifest.in.
    const std::pair<const char*, size_t> parts[]
        = {{"boot.img", 0x100000}, {"rootfs.img", 0x400000}, {"secure.img", 0x2000000}};
    std::vector<uint8_t> expected(flash.size(), 0);
    for (const auto& [file, target] : parts) {
        const std::string data = ReadFile(std::string(SAMPLE_GEN_DIR) + "/" + file);
        if (data.empty() || target + data.size() > expected.size())
            return ::testing::AssertionFailure() << file << " does not fit the flash";
        std::memcpy(expected.data() + target, data.data(), data.size());
    }
    if (flash == expected)
        return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(flash.begin(), flash.end(), expected.begin());
    return ::testing::AssertionFailure()
        << "flash differs from the partitions at byte " << (diff.first - flash.begin());
}
