// Where the runner's lines go. On a terminal: one progress bar per run, with
// event lines printed above it; everything the libraries in the process
// print to standard output and error is led past the bar too, unchanged. In
// plain mode: one timestamped line per event on standard output. The log
// file, when there is one, always gets the timestamped lines.
//
// Safe to use from any thread. Lives to the end of the process (never
// destroyed), since plug-in threads may report until then.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// One progress report as shown.
struct ProgressView {
    int board = 0;
    int percent = 0;
    std::string text; // the script's text, as received
    std::string rate; // empty while unknown
    std::string left; // time left, empty while unknown
};

class Console {
public:
    // terminal: draw bars on standard output, which is a terminal. log: the
    // file the lines are appended to, or null.
    Console(bool terminal, FILE* log);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool Terminal() const { return m_bTerminal; }

    // An event line.
    void Line(const std::string& text);
    // The run's bar, or a progress line in plain mode.
    void Progress(const ProgressView& view);
    // Draws the bar again with new figures; nothing is logged.
    void Redraw(const ProgressView& view);
    // The run of `board` is over: its bar stays as last drawn, later output
    // goes below. Another board's bar is left as it is.
    void EndBar(int board);
    // A question on the terminal: the bar is put aside and the prompt shown
    // without a line end (and again below any line printed meanwhile) until
    // PromptDone.
    void Prompt(const std::string& text);
    // lineEnded: the user's answer ended the prompt's line.
    void PromptDone(bool lineEnded);

    // Hands the process's standard output and error back to the terminal and
    // waits until everything printed before has been shown.
    void Stop();

    // Printable form of an outside text: its trailing line end dropped, control
    // bytes become '?'.
    static std::string Printable(const char* text);

private:
    void Pump();
    void PassThrough(int fd, const std::string& text);
    // Writes text to fd above the bar or the prompt, which stay below it.
    void Above(int fd, const std::string& text);
    void LogLine(const std::string& text);
    void DrawBar();
    void ClearBar();
    void Write(int fd, const std::string& text);

    const bool m_bTerminal;
    FILE* const m_pLog;
    std::mutex m_lock;
    int m_nOut = 1; // the terminal (or standard output in plain mode)
    int m_nErr = 2;
    int m_nOutPipe = -1; // read ends of the pipes that replace fds 1 and 2
    int m_nErrPipe = -1;
    std::thread m_pump;
    bool m_bBarShown = false;
    bool m_bBarActive = false;
    bool m_bPrompting = false;
    std::string m_prompt;
    ProgressView m_bar;
};

// "2024-05-01 12:34:56.789", local time.
std::string Timestamp();
