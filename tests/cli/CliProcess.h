// vemora-cli run as a child process, its standard output and error read as
// they come (on a pipe, or on a pseudo-terminal when the runner should see a
// terminal), with the simulated device preloaded when asked. Unless told
// otherwise it runs from a folder of its own: the plug-in writes its work
// files ("tools.scj") beside the program, so runs side by side must not
// share one.
#pragma once

#include "Files.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct CliOptions {
    std::string program;                // default: a copy in a folder of its own
    std::vector<std::string> args;      // after the program name
    std::vector<std::string> variables; // "NAME=value", added to the environment
    bool simulator = true;              // preload the driver stand-in and the simulator
    bool terminal = false;              // a pseudo-terminal for its input and output
};

class CliProcess {
public:
    explicit CliProcess(const CliOptions& options);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads until the output holds `text` (true) or `timeout` passed or the
    // output ended (false).
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
    // Types on the terminal.
    void Type(const std::string& text);
    void Signal(int signal);
    // Reads to the end and waits for the exit: the exit status, or -1 when
    // it did not exit by itself within `timeout` (it is killed then) or died
    // of a signal.
    int Finish(std::chrono::milliseconds timeout);
    // The peak resident memory of the runner in KiB once Finish has seen it
    // exit; -1 before.
    long PeakMemoryKiB() const { return m_nPeakKiB; }
    // Standard output and error as read so far, in the order they came.
    const std::string& Output() const { return m_output; }
    // The folder the program runs from.
    const std::string& Folder() const { return m_folder; }

private:
    // Reads what is there within `ms`; false at the end of the output.
    bool ReadSome(int ms);

    std::unique_ptr<ScratchDir> m_pOwnFolder;
    std::string m_folder;
    pid_t m_pid = -1;
    int m_fd = -1; // the pipe's or the terminal's reading end
    std::string m_output;
    long m_nPeakKiB = -1;
};

// The output's lines that contain `text`.
std::vector<std::string> LinesWith(const std::string& output, const std::string& text);
