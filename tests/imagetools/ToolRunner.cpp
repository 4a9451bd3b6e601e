#include "ToolRunner.h"

#include "Pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Scratch::Scratch()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/imagetools.XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (!mkdtemp(text.data()))
        ADD_FAILURE() << "mkdtemp failed";
    m_path = text.data();
}

Scratch::~Scratch()
{
    const std::string command = "rm -rf '" + m_path + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << m_path;
}

std::vector<std::string> Scratch::List() const
{
    return ListFolder(m_path);
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

std::string BinPath(const std::string& name)
{
    return std::string(VEMORA_BIN_DIR) + "/" + name;
}

ToolResult RunImgTool(const std::vector<std::string>& args, uint64_t fileSizeLimit)
{
    Scratch capture;
    const std::string outPath = capture / "out";
    const std::string errPath = capture / "err";
    const std::string tool = BinPath("vemora-imgtool");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        if (fileSizeLimit > 0) {
            // The capture files are open already; the limit is for the tool's output.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit {fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        alarm(60); // a tool that hangs fails the test instead of stalling the suite
        execv(argv[0], argv.data());
        _exit(127);
    }
    ToolResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = ReadBytes(outPath);
    result.err = ReadBytes(errPath);
    return result;
}

void WriteBytes(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path)
{
    struct stat st { };
    return stat(path.c_str(), &st) == 0;
}

std::string Pattern(size_t size, uint32_t seed)
{
    std::string data(size, '\0');
    FillPattern(reinterpret_cast<unsigned char*>(data.data()), size, seed);
    return data;
}
