// Runs vemora-imgtool from build/bin in a scratch folder and keeps what it
// printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// A fresh folder under the temporary directory, removed at scope end.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Names in the folder (without "." and ".."), sorted.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

// Names in a folder (without "." and ".."), sorted; none when it is missing.
std::vector<std::string> ListFolder(const std::string& path);

// `fileSizeLimit` > 0 caps the size of files the tool may write (RLIMIT_FSIZE).
ToolResult RunImgTool(const std::vector<std::string>& args, uint64_t fileSizeLimit = 0);

std::string BinPath(const std::string& name);
void WriteBytes(const std::string& path, const std::string& data);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Deterministic bytes for test inputs.
std::string Pattern(size_t size, uint32_t seed);
