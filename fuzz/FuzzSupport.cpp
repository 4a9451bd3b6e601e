#include "FuzzSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

uint8_t Input::Byte()
{
    return empty() ? 0 : m_data[m_pos++];
}

uint16_t Input::U16()
{
    return static_cast<uint16_t>(Byte() | Byte() << 8);
}

uint32_t Input::U32()
{
    return U16() | static_cast<uint32_t>(U16()) << 16;
}

double Input::Double()
{
    const uint64_t bits = U32() | static_cast<uint64_t>(U32()) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string Input::Bytes(size_t n)
{
    n = std::min(n, left());
    std::string bytes(reinterpret_cast<const char*>(m_data + m_pos), n);
    m_pos += n;
    return bytes;
}

std::string Input::Text(size_t max)
{
    return Bytes(Byte() % (max + 1));
}

[[noreturn]] void Broken(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "fuzz: broken promise at %s:%d: %s\n", file, line, what);
    std::abort();
}

void* OpenLibrary(const char* path)
{
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "fuzz: cannot open %s: %s\n", path, dlerror());
        std::exit(1);
    }
    return lib;
}

void* Symbol(void* lib, const char* name)
{
    void* symbol = dlsym(lib, name);
    if (!symbol) {
        std::fprintf(stderr, "fuzz: %s is not exported\n", name);
        std::exit(1);
    }
    return symbol;
}

namespace {

void RemoveTree(const std::string& dir)
{
    ClearDir(dir);
    rmdir(dir.c_str());
}

std::string MakeScratchDir()
{
    // Memory rather than disk where there is a choice: the code under test
    // flushes what it writes.
    const char* tmp = std::getenv("TMPDIR");
    struct stat shm;
    const std::string base = tmp && *tmp                      ? tmp
        : stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm"
                                                              : "/tmp";
    std::string pattern = base + "/vemora-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("fuzz: mkdtemp");
        std::exit(1);
    }
    return pattern;
}

} // namespace

const std::string& ScratchDir()
{
    static const std::string dir = MakeScratchDir();
    static const bool cleaned = std::atexit([] { RemoveTree(ScratchDir()); }) == 0;
    (void)cleaned;
    return dir;
}

void WriteFile(const std::string& path, const void* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = write(fd, p + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (fd < 0 || done != size || close(fd) != 0) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::string MakeDir(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        std::perror(("fuzz: mkdir " + path).c_str());
        std::exit(1);
    }
    return path;
}

std::string CurrentDir()
{
    char* dir = getcwd(nullptr, 0);
    if (!dir) {
        std::perror("fuzz: getcwd");
        std::exit(1);
    }
    std::string path = dir;
    std::free(dir);
    return path;
}

std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ClearDir(const std::string& dir)
{
    for (const std::string& name : ListDir(dir)) {
        const std::string path = dir + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            RemoveTree(path);
        else
            unlink(path.c_str());
    }
}

} // namespace fuzz
