#include "Console.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kBarCells = 20;
constexpr int kDefaultColumns = 80;
// A library's line without its line end is shown once nothing more came for
// this long.
constexpr int kPartialLineMs = 200;

const char kClearLine[] = "\r\033[K";

int Columns(int fd)
{
    winsize size {};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : kDefaultColumns;
}

std::string PlainProgress(const ProgressView& view)
{
    std::string line = "board " + std::to_string(view.board) + ": " + std::to_string(view.percent)
        + "% " + view.text;
    if (!view.rate.empty())
        line += ", " + view.rate;
    if (!view.left.empty())
        line += ", " + view.left + " left";
    return line;
}

// Moves fd to a pipe whose read end is returned (-1 when that fails: the fd
// then stays as it was).
int Redirect(int fd)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    if (dup2(ends[1], fd) < 0) {
        close(ends[0]);
        close(ends[1]);
        return -1;
    }
    close(ends[1]);
    return ends[0];
}

} // namespace

std::string Timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms
        = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count()
        % 1000;
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(ms));
    return text;
}

std::string Console::Printable(const char* text)
{
    std::string shown = text ? text : "";
    // A text's own line end ("pcall FAILED ...\r\n") is not part of what it says.
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
        shown.pop_back();
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return shown;
}

Console::Console(bool terminal, FILE* log)
    : m_bTerminal(terminal)
    , m_pLog(log)
{
    if (!m_bTerminal)
        return;
    // The bar owns the terminal: the libraries' output is taken through
    // pipes and shown above it, line by line.
    std::fflush(stdout);
    std::fflush(stderr);
    m_nOut = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (m_nOut < 0) {
        m_nOut = 1;
        return;
    }
    m_nOutPipe = Redirect(1);
    if (isatty(2)) {
        m_nErr = fcntl(2, F_DUPFD_CLOEXEC, 3);
        if (m_nErr >= 0)
            m_nErrPipe = Redirect(2);
        else
            m_nErr = 2;
    }
    if (m_nOutPipe >= 0 || m_nErrPipe >= 0)
        m_pump = std::thread(&Console::Pump, this);
}

void Console::Write(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        // A closed or broken output is not the runner's concern: the log and
        // the exit status still tell.
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void Console::LogLine(const std::string& text)
{
    if (!m_pLog)
        return;
    std::fprintf(m_pLog, "%s %s\n", Timestamp().c_str(), text.c_str());
    std::fflush(m_pLog);
}

void Console::ClearBar()
{
    if (m_bBarShown)
        Write(m_nOut, kClearLine);
    m_bBarShown = false;
}

void Console::DrawBar()
{
    if (!m_bBarActive || m_bPrompting)
        return;
    const int filled = m_bar.percent * kBarCells / 100;
    std::string line = "board " + std::to_string(m_bar.board) + " ["
        + std::string(static_cast<size_t>(filled), '#')
        + std::string(static_cast<size_t>(kBarCells - filled), '.') + "] "
        + std::to_string(m_bar.percent) + "% ";
    std::string tail;
    if (!m_bar.rate.empty())
        tail += "  " + m_bar.rate;
    if (!m_bar.left.empty())
        tail += "  " + m_bar.left + " left";
    // One column is kept free: a line that fills the last one wraps on some
    // terminals, and the next redraw would then leave it behind.
    const size_t room = static_cast<size_t>(Columns(m_nOut) - 1);
    if (line.size() + tail.size() > room)
        tail.clear();
    std::string text = m_bar.text;
    if (line.size() + text.size() + tail.size() > room)
        text.resize(room > line.size() + tail.size() ? room - line.size() - tail.size() : 0);
    line += text + tail;
    if (line.size() > room)
        line.resize(room);
    Write(m_nOut, kClearLine + line);
    m_bBarShown = true;
}

void Console::Line(const std::string& text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    LogLine(text);
    if (!m_bTerminal) {
        std::string line = Timestamp() + " " + text + "\n";
        // Through stdout's own buffer, so that the libraries' lines printed
        // with stdio stay in order with ours.
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    Above(m_nOut, text + "\n");
}

void Console::Progress(const ProgressView& view)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const std::string plain = PlainProgress(view);
    LogLine(plain);
    if (!m_bTerminal) {
        std::fputs((Timestamp() + " " + plain + "\n").c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    m_bar = view;
    m_bBarActive = true;
    DrawBar();
}

void Console::Redraw(const ProgressView& view)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (!m_bTerminal)
        return;
    m_bar = view;
    m_bBarActive = true;
    DrawBar();
}

void Console::EndBar(int board)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (!m_bBarActive || m_bar.board != board)
        return;
    if (m_bBarShown)
        Write(m_nOut, "\n");
    m_bBarShown = false;
    m_bBarActive = false;
}

void Console::Prompt(const std::string& text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    LogLine(text);
    if (!m_bTerminal) {
        std::fputs((Timestamp() + " " + text).c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    ClearBar();
    m_bPrompting = true;
    m_prompt = text;
    Write(m_nOut, text);
}

void Console::PromptDone(bool lineEnded)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (!lineEnded)
        Write(m_nOut, "\n");
    m_bPrompting = false;
    m_prompt.clear();
    DrawBar();
}

void Console::Above(int fd, const std::string& text)
{
    if (m_bPrompting)
        Write(m_nOut, kClearLine);
    else
        ClearBar();
    Write(fd, text);
    if (m_bPrompting)
        Write(m_nOut, m_prompt);
    else
        DrawBar();
}

void Console::PassThrough(int fd, const std::string& text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Above(fd, text);
}

void Console::Pump()
{
    struct Source {
        int pipe;
        int target;
        std::string partial;
    };
    Source sources[2] = {{m_nOutPipe, m_nOut, {}}, {m_nErrPipe, m_nErr, {}}};
    for (;;) {
        pollfd fds[2];
        int open = 0;
        for (int i = 0; i < 2; ++i) {
            fds[i] = {sources[i].pipe, POLLIN, 0};
            open += sources[i].pipe >= 0;
        }
        if (open == 0)
            return;
        const int ready = poll(fds, 2, kPartialLineMs);
        if (ready < 0 && errno != EINTR)
            return;
        for (int i = 0; i < 2; ++i) {
            Source& source = sources[i];
            if (source.pipe < 0)
                continue;
            if (ready == 0 && !source.partial.empty()) {
                PassThrough(source.target, source.partial + "\n");
                source.partial.clear();
            }
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[4096];
            const ssize_t n = read(source.pipe, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (!source.partial.empty())
                    PassThrough(source.target, source.partial + "\n");
                close(source.pipe);
                source.pipe = -1;
                continue;
            }
            source.partial.append(chunk, static_cast<size_t>(n));
            const size_t end = source.partial.rfind('\n');
            if (end != std::string::npos) {
                PassThrough(source.target, source.partial.substr(0, end + 1));
                source.partial.erase(0, end + 1);
            }
        }
    }
}

void Console::Stop()
{
    std::fflush(stdout);
    std::fflush(stderr);
    if (!m_pump.joinable())
        return;
    // With fds 1 and 2 back on the terminal the pipes' last writers are
    // gone, so the pump drains them, meets their end and returns.
    if (m_nOutPipe >= 0)
        dup2(m_nOut, 1);
    if (m_nErrPipe >= 0)
        dup2(m_nErr, 2);
    m_pump.join();
    EndBar(m_bar.board);
}
