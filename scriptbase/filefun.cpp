// Script files: buffered streams ("fopen" family), raw descriptors with
// 64-bit positions ("LF" family), deleting, copying and reading lines.
#include "LuaRegister.h"
#include "handles.h"
#include "luaarg.h"
#include "scriptbase.h"

#include "PyrraDebug.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kSourceName = "./filefun";

// Line buffer of fgetALine: one call returns at most 1023 characters.
constexpr int kLineSize = 1024;

// Modes of LFopen.
enum : int32_t {
    kLFOpenRead = 0,
    kLFOpenReadWrite = 1,
    kLFOpenCreate = 2, // read-write, creating a missing file
    kLFOpenNothing = -1,
};

// CopyFile once built "cp <src> <dst>" in 1024 bytes; paths that would not
// have fitted are still refused rather than cut.
constexpr size_t kCopyPathsMax = 1019;

// A stream from fopen is light userdata (null for a failed open, which the
// stream functions take as no file). A full userdata such as Lua's own
// io.stdout holds no FILE at its address, and closing or reading it would
// wreck Lua's memory: refused, as is any address that is not an open stream
// of fopen (a buffer, a closed stream).
FILE* ArgStream(lua_State* L, const char* fn, int index)
{
    if (lua_type(L, index) == LUA_TUSERDATA)
        ArgError(L, fn, index, "not a stream from fopen");
    auto* stream = static_cast<FILE*>(lua_touserdata(L, index));
    if (stream && !g_streams.Contains(stream))
        ArgError(L, fn, index, "not a stream from fopen, or closed already");
    return stream;
}

// A descriptor from LFopen, or -1 (no file: the calls answer as for a
// failed one). Any other number could be a descriptor the host itself uses
// (a device node, its hot-plug socket), which a script must not touch.
int ArgDescriptor(lua_State* L, const char* fn, int index)
{
    const int fd = ArgInt32(L, index);
    if (fd != -1 && !HasDescriptor(fd))
        ArgError(L, fn, index, "%d is not a descriptor from LFopen, or closed already", fd);
    return fd;
}

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
    int get() const { return m_fd; }
    // Closes now so that a failing close (delayed write error) is seen.
    int release()
    {
        const int rc = close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

// Writes all count bytes, continuing after partial writes and signals.
// Returns the bytes written before an error.
ssize_t WriteAll(int fd, const unsigned char* p, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Copies everything from in to out; returns null or the reason it failed.
const char* CopyData(int in, int out)
{
    unsigned char block[64 * 1024];
    for (;;) {
        const ssize_t n = read(in, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::strerror(errno);
        if (n == 0)
            return nullptr;
        if (WriteAll(out, block, static_cast<size_t>(n)) != n)
            return std::strerror(errno);
    }
}

// What "cp src dst" does for a plain file, without a shell: dst may be an
// existing directory, a new file gets the source's permission bits (less
// the creation mask), and copying a file onto itself is refused instead of
// truncating it. A copy that fails half-way is removed. Returns null or the
// reason it failed.
const char* CopyContents(const char* src, const char* dst)
{
    Fd in(open(src, O_RDONLY | O_CLOEXEC));
    struct stat srcStat;
    if (in.get() < 0 || fstat(in.get(), &srcStat) != 0)
        return std::strerror(errno);
    if (S_ISDIR(srcStat.st_mode))
        return "source is a directory";

    std::string target = dst;
    struct stat dstStat;
    if (stat(dst, &dstStat) == 0 && S_ISDIR(dstStat.st_mode)) {
        const char* slash = std::strrchr(src, '/');
        target += '/';
        target += slash ? slash + 1 : src;
    }
    if (stat(target.c_str(), &dstStat) == 0 && dstStat.st_dev == srcStat.st_dev
        && dstStat.st_ino == srcStat.st_ino)
        return "source and destination are the same file";

    Fd out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, srcStat.st_mode & 0777));
    struct stat outStat;
    if (out.get() < 0 || fstat(out.get(), &outStat) != 0)
        return std::strerror(errno);
    const char* why = CopyData(in.get(), out.get());
    if (!why && out.release() != 0)
        why = std::strerror(errno);
    // A script checks a copy by finding the file: a half-written one must
    // not be there. Only a regular file is removed, never a device node.
    if (why && S_ISREG(outStat.st_mode))
        unlink(target.c_str());
    return why;
}

void CopyOneFile(const char* src, const char* dst) noexcept
{
    const char* why;
    try {
        why = CopyContents(src, dst);
    } catch (const std::exception& e) {
        why = e.what();
    }
    if (why)
        PyrraDebug::DebugErr(
            "%s @ %d, CopyFile %s to %s: %s\n", kSourceName, __LINE__, src, dst, why);
}

} // namespace

// fopen(path, mode) -> stream (a null light userdata when the open failed)
int l_fopen(lua_State* L)
{
    const char* path = ArgPath(L, "fopen", 1);
    const char* mode = ArgString(L, "fopen", 2);
    // A failed open gives a null handle, which is still true in Lua.
    FILE* stream = path ? std::fopen(path, mode) : nullptr;
    if (stream && !g_streams.Add(stream, 0)) {
        std::fclose(stream);
        return luaL_error(L, "fopen: out of memory");
    }
    lua_pushlightuserdata(L, stream);
    return 1;
}

// fseek(stream, offset, origin) -> none
int l_fseek(lua_State* L)
{
    FILE* stream = ArgStream(L, "fseek", 1);
    if (stream)
        std::fseek(stream, ArgInt32(L, 2), ArgInt32(L, 3));
    return 1;
}

// fwrite(stream, buffer, count) -> bytes written
int l_fwrite(lua_State* L)
{
    const char* const fn = "fwrite";
    FILE* stream = ArgStream(L, fn, 1);
    size_t written = 0;
    if (stream) {
        const int32_t count = ArgCount(L, fn, 3);
        const unsigned char* p = ArgBuffer(L, fn, 2, 0, count);
        written = count > 0 ? std::fwrite(p, 1, count, stream) : 0;
    }
    lua_pushinteger(L, static_cast<lua_Integer>(written));
    return 1;
}

// fread(stream, buffer, count) -> bytes read
int l_fread(lua_State* L)
{
    const char* const fn = "fread";
    FILE* stream = ArgStream(L, fn, 1);
    size_t got = 0;
    if (stream) {
        const int32_t count = ArgCount(L, fn, 3);
        unsigned char* p = ArgBuffer(L, fn, 2, 0, count);
        got = count > 0 ? std::fread(p, 1, count, stream) : 0;
    }
    lua_pushinteger(L, static_cast<lua_Integer>(got));
    return 1;
}

// fclose(stream) -> none
int l_fclose(lua_State* L)
{
    // A null handle reaches fflush too, which then flushes every output
    // stream of the process.
    FILE* stream = ArgStream(L, "fclose", 1);
    // Forgotten first: of two threads closing one stream, one closes it.
    if (stream && !g_streams.Remove(stream))
        ArgError(L, "fclose", 1, "not a stream from fopen, or closed already");
    std::fflush(stream);
    if (stream)
        std::fclose(stream);
    return 1;
}

// fgetALine(stream) -> line, nil at the end, false on a null stream or error
int l_fgetALine(lua_State* L)
{
    // The line numbers in the two log lines are fixed texts, not __LINE__:
    // log readers match them.
    FILE* stream = ArgStream(L, "fgetALine", 1);
    if (!stream) {
        PyrraDebug::DebugErr("%s @ %d, file handle == null\n", kSourceName, 98);
        lua_pushboolean(L, 0);
        return 1;
    }
    char line[kLineSize] = {};
    if (std::fgets(line, sizeof line, stream)) {
        line[sizeof line - 1] = 0;
        lua_pushstring(L, line);
    } else if (std::ferror(stream)) {
        PyrraDebug::DebugErr("%s @ %d, %s\n", kSourceName, 108, std::strerror(errno));
        lua_pushboolean(L, 0);
    } else {
        lua_pushnil(L);
    }
    return 1;
}

// LFopen(path, mode) -> descriptor, or -1
int l_LFOpen(lua_State* L)
{
    const char* path = ArgPath(L, "LFopen", 1);
    const int32_t mode = ArgInt32(L, 2);
    int fd = -1;
    // No path opens nothing, as a path that cannot be found.
    switch (path ? mode : kLFOpenNothing) {
    case kLFOpenRead:
        fd = open(path, O_RDONLY);
        break;
    case kLFOpenReadWrite:
        fd = open(path, O_RDWR);
        break;
    case kLFOpenCreate:
        // Owner, group and others may read and write, less the creation mask,
        // as for a stream opened for writing.
        fd = open(path, O_RDWR | O_CREAT, 0666);
        break;
    default:
        break;
    }
    if (fd >= 0 && !AddDescriptor(fd)) {
        close(fd);
        return luaL_error(L, "LFopen: out of memory");
    }
    lua_pushinteger(L, fd);
    return 1;
}

// LFseek(fd, low, high, origin) -> none
int l_LFSeek(lua_State* L)
{
    const int fd = ArgDescriptor(L, "LFseek", 1);
    const uint64_t low = static_cast<uint64_t>(ArgInt64(L, 2));
    const uint64_t high = static_cast<uint64_t>(ArgInt64(L, 3));
    const int origin = ArgInt32(L, 4);
    if (fd >= 0)
        lseek(fd, static_cast<off_t>((high << 32) | low), origin);
    return 1;
}

// LFwrite(fd, buffer, count) -> count, or nil
int l_LFWrite(lua_State* L)
{
    const char* const fn = "LFwrite";
    const int fd = ArgDescriptor(L, fn, 1);
    const int32_t count = ArgCount(L, fn, 3);
    const unsigned char* p = ArgBuffer(L, fn, 2, 0, count);
    // Any progress answers count, as scripts expect; WriteAll has already
    // retried what a partial write left over.
    if (fd >= 0 && WriteAll(fd, p, static_cast<size_t>(count)) > 0)
        lua_pushinteger(L, count);
    else
        lua_pushnil(L);
    return 1;
}

// LFread(fd, buffer, count) -> count, or nil
int l_LFRead(lua_State* L)
{
    const char* const fn = "LFread";
    const int fd = ArgDescriptor(L, fn, 1);
    const int32_t count = ArgCount(L, fn, 3);
    unsigned char* p = ArgBuffer(L, fn, 2, 0, count);
    ssize_t n = 0;
    if (fd >= 0) {
        do {
            n = read(fd, p, static_cast<size_t>(count));
        } while (n < 0 && errno == EINTR);
    }
    // Answers the amount asked for, also after a short read: scripts rely
    // on it and find the end by the nil that follows.
    if (n > 0)
        lua_pushinteger(L, count);
    else
        lua_pushnil(L);
    return 1;
}

// LFclose(fd) -> none
int l_LFClose(lua_State* L)
{
    const int fd = ArgDescriptor(L, "LFclose", 1);
    // Forgotten first: of two threads closing one descriptor, one closes it.
    if (fd >= 0 && !RemoveDescriptor(fd))
        ArgError(L, "LFclose", 1, "%d is not a descriptor from LFopen, or closed already", fd);
    if (fd >= 0)
        close(fd);
    return 1;
}

// DeleteFile(path) -> none
int l_DeleteFile(lua_State* L)
{
    if (const char* path = ArgPath(L, "DeleteFile", 1))
        unlink(path);
    return 1;
}

// CopyFile(src, dst) -> none
int l_CopyFile(lua_State* L)
{
    size_t srcLen = 0;
    size_t dstLen = 0;
    const char* src = ArgString(L, "CopyFile", 1, &srcLen);
    const char* dst = ArgString(L, "CopyFile", 2, &dstLen);
    if (srcLen + dstLen > kCopyPathsMax)
        return luaL_error(L, "CopyFile: the two paths together are longer than %d characters",
            static_cast<int>(kCopyPathsMax));
    CopyOneFile(src, dst);
    return 1;
}

static const luaL_Reg kFileFunctions[] = {
    {"fopen", l_fopen},
    {"fseek", l_fseek},
    {"fwrite", l_fwrite},
    {"fread", l_fread},
    {"fclose", l_fclose},
    {"fgetALine", l_fgetALine},
    {"LFopen", l_LFOpen},
    {"LFseek", l_LFSeek},
    {"LFwrite", l_LFWrite},
    {"LFread", l_LFRead},
    {"LFclose", l_LFClose},
    {"DeleteFile", l_DeleteFile},
    {"CopyFile", l_CopyFile},
    {nullptr, nullptr},
};

// The file group alone.
int RegFileFun(lua_State* L)
{
    RegisterGlobals(L, kFileFunctions);
    return 1;
}
