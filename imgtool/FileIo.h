// Descriptors with full reads and writes at 64-bit offsets, and an output
// file that appears under its final name only once it is complete.
#pragma once

#include <cstdint>
#include <string>

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Fd();
    Fd(Fd&& other) noexcept
        : m_fd(other.m_fd)
    {
        other.m_fd = -1;
    }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports the result (a failed close can lose written data).
    int Close();

private:
    int m_fd;
};

// Opens `path` read-only; on failure `why` names the path and the error.
bool OpenForReading(const std::string& path, Fd& fd, std::string& why);
bool FileSize(int fd, const std::string& path, uint64_t& size, std::string& why);

// Reads exactly `length` bytes at `offset`; a short file is an error.
bool ReadAt(
    int fd, const std::string& path, void* data, size_t length, uint64_t offset, std::string& why);
bool WriteAt(int fd, const std::string& path, const void* data, size_t length, uint64_t offset,
    std::string& why);

// A new file written under a temporary name in the final directory
// (".<name>.XXXXXX"). Commit flushes it to disk and renames it over the final
// name; without a commit the temporary file is removed.
class PendingFile {
public:
    explicit PendingFile(std::string finalPath)
        : m_finalPath(std::move(finalPath))
    {
    }
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Create(std::string& why);
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_finalPath; }
    // Sets the final length (ends with a hole when the tail was skipped).
    bool Finish(uint64_t size, std::string& why);
    bool Commit(std::string& why);

private:
    std::string m_finalPath;
    std::string m_tempPath;
    Fd m_fd;
    bool m_committed = false;
};
