#include "LanRead.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool ReadLanFile(const char* path, std::string& data, std::string& reason)
{
    // Non-blocking, so that a FIFO is refused instead of waited on.
    const Fd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(file.Get(), &info) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        return false;
    }
    // Read up to one byte past the limit, whatever size the file claims: it
    // may change while it is read.
    std::string bytes(kMaxLanFileSize + 1, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(file.Get(), &bytes[got], bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got > kMaxLanFileSize) {
        reason = "larger than " + std::to_string(kMaxLanFileSize) + " bytes";
        return false;
    }
    bytes.resize(got);
    data.swap(bytes);
    return true;
}
