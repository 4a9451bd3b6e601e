#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

ToolResult RunImgTool(const std::vector<std::string>& args, uint64_t fileSizeLimit)
{
    ScratchDir capture;
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
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}
