#include "CliProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// In the child: the environment, then the program.
[[noreturn]] void Exec(const CliOptions& options, const std::string& program)
{
    if (options.simulator) {
        const std::string preload = std::string(SANITIZER_PRELOAD) + SIMDRV_SO + ":" + SIMDEV_SO;
        setenv("LD_PRELOAD", preload.c_str(), 1);
    }
    for (const std::string& variable : options.variables) {
        const size_t equals = variable.find('=');
        setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : options.args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// What the runner finds beside itself, linked from build/bin.
const char* const kBeside[] = {"pluginhub.dll", "VemoProc.Plg", "usbwire.dll", "scriptbase.dll",
    "blockcrypt.dll", "imgdec_fun.lua", "60-vemora.rules"};

} // namespace

CliProcess::CliProcess(const CliOptions& options)
{
    std::string program = options.program;
    if (program.empty()) {
        // A copy, not a link: the program finds its folder through
        // /proc/self/exe, which names the file behind a link.
        m_pOwnFolder = std::make_unique<ScratchDir>();
        program = *m_pOwnFolder / "vemora-cli";
        WriteFile(program, ReadFile(BinPath("vemora-cli")));
        chmod(program.c_str(), 0755);
        for (const char* name : kBeside) {
            if (symlink(BinPath(name).c_str(), (*m_pOwnFolder / name).c_str()) != 0)
                std::abort();
        }
    }
    m_folder = program.substr(0, program.rfind('/'));
    if (options.terminal) {
        winsize size {};
        size.ws_col = 120;
        size.ws_row = 40;
        m_pid = forkpty(&m_fd, nullptr, nullptr, &size);
        if (m_pid == 0)
            Exec(options, program);
        return;
    }
    int ends[2];
    if (pipe(ends) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        const int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(ends[1], 1);
        dup2(ends[1], 2);
        close(ends[0]);
        Exec(options, program);
    }
    close(ends[1]);
    m_fd = ends[0];
}

CliProcess::~CliProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0)
        close(m_fd);
}

bool CliProcess::ReadSome(int ms)
{
    if (m_fd < 0)
        return false;
    pollfd input {m_fd, POLLIN, 0};
    if (poll(&input, 1, ms) <= 0)
        return true;
    char chunk[4096];
    const ssize_t n = read(m_fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
        return true;
    // A pseudo-terminal whose last user is gone reads EIO.
    if (n <= 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    m_output.append(chunk, static_cast<size_t>(n));
    return true;
}

bool CliProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (m_output.find(text) == std::string::npos) {
        if (Clock::now() >= end || !ReadSome(50))
            return m_output.find(text) != std::string::npos;
    }
    return true;
}

void CliProcess::Type(const std::string& text)
{
    if (m_fd >= 0 && write(m_fd, text.data(), text.size()) < 0)
        std::abort();
}

void CliProcess::Signal(int signal)
{
    if (m_pid > 0)
        kill(m_pid, signal);
}

int CliProcess::Finish(std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        ReadSome(50);
        rusage usage {};
        const pid_t done = wait4(m_pid, &status, WNOHANG, &usage);
        if (done == m_pid) {
            m_nPeakKiB = usage.ru_maxrss;
            break;
        }
        if (Clock::now() >= end) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
    }
    m_pid = -1;
    while (Clock::now() < end && ReadSome(50)) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> LinesWith(const std::string& output, const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}
