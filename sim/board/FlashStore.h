// A board's flash storage: a sparse file of the configured size, so that
// images of several gigabytes cost only the blocks actually written.
#pragma once

#include <cstdint>
#include <string>

namespace simdev {

class FlashStore {
public:
    // mode: 0 temporary (removed with the store), 1 kept, 2 unlinked at once.
    FlashStore(uint64_t size, const std::string& dir, int mode);
    ~FlashStore();
    FlashStore(const FlashStore&) = delete;
    FlashStore& operator=(const FlashStore&) = delete;

    bool Ok() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }
    uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

    // False when the range leaves the storage or the file fails; nothing
    // outside the range is touched.
    bool Write(uint64_t offset, const uint8_t* data, uint64_t length);
    bool Read(uint64_t offset, uint8_t* data, uint64_t length) const;

private:
    bool Fits(uint64_t offset, uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    uint64_t size_;
    int fd_ = -1;
    bool remove_ = false;
    std::string path_;
    std::string error_;
};

} // namespace simdev
