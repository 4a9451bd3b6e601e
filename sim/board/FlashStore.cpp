#include "FlashStore.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace simdev {

FlashStore::FlashStore(uint64_t size, const std::string& dir, int mode)
    : size_(size)
{
    std::string folder = dir;
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp && *tmp ? tmp : "/tmp";
    }
    std::string name = folder + "/vemora-flash-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    fd_ = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot create flash file in " + folder + ": " + std::strerror(errno);
        return;
    }
    path_ = buffer.data();
    if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
        error_ = "cannot size flash file " + path_ + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        unlink(path_.c_str());
        return;
    }
    if (mode == 2) {
        unlink(path_.c_str());
        path_.clear();
    }
    remove_ = mode == 0;
}

FlashStore::~FlashStore()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (remove_ && !path_.empty())
        unlink(path_.c_str());
}

namespace {

// pread or pwrite until the whole range is done; short transfers go on
// where they stopped.
template <typename Io, typename Bytes>
bool Whole(Io io, int fd, Bytes* data, uint64_t offset, uint64_t length)
{
    while (length > 0) {
        const ssize_t done = io(fd, data, length, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        offset += static_cast<uint64_t>(done);
        length -= static_cast<uint64_t>(done);
    }
    return true;
}

} // namespace

namespace {

bool AllZero(const uint8_t* data, uint64_t length)
{
    return length > 0 && data[0] == 0 && std::memcmp(data, data + 1, length - 1) == 0;
}

} // namespace

bool FlashStore::Write(uint64_t offset, const uint8_t* data, uint64_t length)
{
    if (fd_ < 0 || !Fits(offset, length))
        return false;
    // Zeros become a hole, which reads back as zeros: a sparse image costs
    // the flash file no more than its data.
    if (AllZero(data, length)
        && fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
               static_cast<off_t>(length))
            == 0)
        return true;
    return Whole(pwrite, fd_, data, offset, length);
}

bool FlashStore::Read(uint64_t offset, uint8_t* data, uint64_t length) const
{
    return fd_ >= 0 && Fits(offset, length) && Whole(pread, fd_, data, offset, length);
}

} // namespace simdev
