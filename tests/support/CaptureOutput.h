// Captures what the code under test writes to standard output or standard
// error (at the descriptor level, so printf, fputs and perror all count).
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class CaptureOutput {
public:
    // stream is stdout or stderr.
    explicit CaptureOutput(FILE* stream)
        : m_stream(stream)
        , m_fd(fileno(stream))
    {
        std::fflush(m_stream);
        m_file = std::tmpfile();
        m_saved = dup(m_fd);
        dup2(fileno(m_file), m_fd);
    }
    ~CaptureOutput()
    {
        Restore();
        std::fclose(m_file);
    }
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // Ends the capture and returns everything written meanwhile.
    std::string Text()
    {
        Restore();
        std::string text;
        std::rewind(m_file);
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0;)
            text.append(chunk, n);
        return text;
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        dup2(m_saved, m_fd);
        close(m_saved);
        m_saved = -1;
    }

    FILE* m_stream;
    int m_fd;
    FILE* m_file;
    int m_saved = -1;
};

// Everything written to standard output and standard error between
// construction and Take() (each stream on its own).
class CapturedLog {
public:
    CapturedLog()
        : m_outCapture(stdout)
        , m_errCapture(stderr)
    {
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;
    // Stops capturing; later calls do nothing.
    void Take()
    {
        if (m_taken)
            return;
        m_taken = true;
        m_out = m_outCapture.Text();
        m_err = m_errCapture.Text();
    }
    const std::string& out() { return Take(), m_out; }
    const std::string& err() { return Take(), m_err; }

private:
    CaptureOutput m_outCapture;
    CaptureOutput m_errCapture;
    bool m_taken = false;
    std::string m_out;
    std::string m_err;
};
