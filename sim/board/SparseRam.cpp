#include "SparseRam.h"

#include <algorithm>
#include <cstring>

namespace simdev {

void SparseRam::Write(uint32_t address, const uint8_t* data, uint64_t length)
{
    while (length > 0) {
        const uint32_t offset = address & (kPageSize - 1);
        const uint32_t piece
            = static_cast<uint32_t>(std::min<uint64_t>(kPageSize - offset, length));
        auto& page = pages_[address >> kPageBits];
        if (!page)
            page = std::make_unique<Page>(Page {});
        std::memcpy(page->data() + offset, data, piece);
        data += piece;
        length -= piece;
        address += piece;
    }
}

void SparseRam::Read(uint32_t address, uint8_t* data, uint64_t length) const
{
    while (length > 0) {
        const uint32_t offset = address & (kPageSize - 1);
        const uint32_t piece
            = static_cast<uint32_t>(std::min<uint64_t>(kPageSize - offset, length));
        const auto it = pages_.find(address >> kPageBits);
        if (it == pages_.end())
            std::memset(data, 0, piece);
        else
            std::memcpy(data, it->second->data() + offset, piece);
        data += piece;
        length -= piece;
        address += piece;
    }
}

} // namespace simdev
