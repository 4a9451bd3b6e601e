// A board's 32-bit address space: pages appear when first written, and
// unwritten bytes read as zero, so scattered loads cost only what they touch.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace simdev {

class SparseRam {
public:
    // Addresses wrap at 2^32, as on the board's bus.
    void Write(uint32_t address, const uint8_t* data, uint64_t length);
    void Read(uint32_t address, uint8_t* data, uint64_t length) const;
    void Clear() { pages_.clear(); }

private:
    static constexpr uint32_t kPageBits = 12;
    static constexpr uint32_t kPageSize = 1u << kPageBits;
    using Page = std::array<uint8_t, kPageSize>;
    std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
};

} // namespace simdev
