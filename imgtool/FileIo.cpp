#include "FileIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ErrorText(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

Fd::~Fd()
{
    if (m_fd >= 0)
        close(m_fd);
}

int Fd::Close()
{
    const int result = close(m_fd);
    m_fd = -1;
    return result;
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool OpenForReading(const std::string& path, Fd& fd, std::string& why)
{
    // Non-blocking, so that a FIFO given by mistake is refused below instead
    // of waiting for a writer forever; it changes nothing for a regular file.
    fd = Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        why = ErrorText("cannot open", path);
        return false;
    }
    struct stat st { };
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file: " + path;
        fd = Fd();
        return false;
    }
    return true;
}

bool FileSize(int fd, const std::string& path, uint64_t& size, std::string& why)
{
    struct stat st { };
    if (fstat(fd, &st) != 0) {
        why = ErrorText("cannot stat", path);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadAt(
    int fd, const std::string& path, void* data, size_t length, uint64_t offset, std::string& why)
{
    auto* p = static_cast<uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = pread(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = ErrorText("cannot read", path);
            return false;
        }
        if (n == 0) {
            why = "unexpected end of " + path + " at byte " + std::to_string(offset);
            return false;
        }
        p += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteAt(int fd, const std::string& path, const void* data, size_t length, uint64_t offset,
    std::string& why)
{
    auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = pwrite(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = ErrorText("cannot write", path);
            return false;
        }
        p += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

PendingFile::~PendingFile()
{
    if (!m_committed && !m_tempPath.empty())
        unlink(m_tempPath.c_str());
}

bool PendingFile::Create(std::string& why)
{
    const std::string dir = DirectoryOf(m_finalPath);
    const size_t slash = m_finalPath.rfind('/');
    const std::string name
        = slash == std::string::npos ? m_finalPath : m_finalPath.substr(slash + 1);
    std::string pattern = (dir == "/" ? "" : dir) + "/." + name + ".XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    const int fd = mkostemp(text.data(), O_CLOEXEC);
    if (fd < 0) {
        why = ErrorText("cannot create a file in", dir);
        return false;
    }
    m_tempPath = text.data();
    m_fd = Fd(fd);
    // mkstemp makes the file private; an image is an ordinary document.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return true;
}

bool PendingFile::Finish(uint64_t size, std::string& why)
{
    if (ftruncate(m_fd.get(), static_cast<off_t>(size)) != 0) {
        why = ErrorText("cannot set the length of", m_finalPath);
        return false;
    }
    return true;
}

bool PendingFile::Commit(std::string& why)
{
    if (fsync(m_fd.get()) != 0 || m_fd.Close() != 0) {
        why = ErrorText("cannot flush", m_finalPath);
        return false;
    }
    if (rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
        why = ErrorText("cannot rename the new file to", m_finalPath);
        return false;
    }
    m_committed = true;
    // Make the rename itself durable; the image is complete either way.
    Fd dir(open(DirectoryOf(m_finalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        fsync(dir.get());
    return true;
}
