// What the fuzz targets share: the fuzz input read front to back as small
// values, libraries of the build opened by path with their names resolved,
// a scratch folder for the process, and the check that turns a broken
// promise into a crash the fuzzer reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Reads the input from its front. Past the end every read gives zeros (or
// nothing), so a short input is still a whole one.
class Input {
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool empty() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }
    uint8_t Byte();
    uint16_t U16();
    uint32_t U32();
    // Eight bytes as a double, any bit pattern (NaN, infinities, huge values).
    double Double();
    // Up to n bytes, fewer at the end of the input.
    std::string Bytes(size_t n);
    // The next byte as a length 0..max and that many bytes (fewer at the end).
    std::string Text(size_t max);

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Opens the library at path once per process (RTLD_NOW); ends the process
// with a message when it cannot.
void* OpenLibrary(const char* path);
// The address of name in lib; ends the process when it is not exported.
void* Symbol(void* lib, const char* name);
template <typename T> T Resolve(void* lib, const char* name)
{
    return reinterpret_cast<T>(Symbol(lib, name));
}

// A folder of its own for this process (under TMPDIR, else /dev/shm, else
// /tmp), removed with everything in it when the process ends normally.
const std::string& ScratchDir();
// Replaces the file at path with the bytes given; ends the process when it
// cannot.
void WriteFile(const std::string& path, const void* data, size_t size);
bool FileExists(const std::string& path);
// Makes the folder (its parent must exist) and returns its path; ends the
// process when it cannot.
std::string MakeDir(const std::string& path);
// The working directory; ends the process when it cannot be read.
std::string CurrentDir();
// Names in a folder, "." and ".." left out; sorted.
std::vector<std::string> ListDir(const std::string& dir);
// Removes everything inside dir, folders too, but not dir itself.
void ClearDir(const std::string& dir);

// A broken promise of the code under test: prints what and aborts, which
// the fuzzer reports as a crash with the input that caused it.
[[noreturn]] void Broken(const char* what, const char* file, int line);

} // namespace fuzz

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzz::Broken(#condition, __FILE__, __LINE__);                                        \
    } while (0)
