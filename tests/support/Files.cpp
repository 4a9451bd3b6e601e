#include "Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

ScratchDir::ScratchDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vemora-test.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("ScratchDir: mkdtemp");
        std::abort();
    }
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code error;
    fs::remove_all(m_path, error);
    if (error)
        ADD_FAILURE() << "cannot remove " << m_path << ": " << error.message();
}

std::vector<std::string> ScratchDir::List() const
{
    return ListFolder(m_path);
}

WorkDir::WorkDir()
    : m_oldCwd(fs::current_path())
{
    fs::current_path(path());
}

WorkDir::~WorkDir()
{
    std::error_code ignored;
    fs::current_path(m_oldCwd, ignored);
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << data;
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream data;
    data << file.rdbuf();
    return data.str();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string BinPath(const std::string& name)
{
    return std::string(VEMORA_BIN_DIR) + "/" + name;
}
