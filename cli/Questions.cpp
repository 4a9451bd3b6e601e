#include "Questions.h"

#include "Interrupts.h"

#include <cctype>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 200;

int Result(Answer answer)
{
    switch (answer) {
    case Answer::Yes:
        return 1;
    case Answer::Cancel:
        return -1;
    default:
        return 0;
    }
}

const char* Name(Answer answer)
{
    switch (answer) {
    case Answer::Yes:
        return "Yes";
    case Answer::No:
        return "No";
    default:
        return "Cancel";
    }
}

// "y", "yes", "n", "no", "c", "cancel" in any case; Ask for anything else.
Answer Parse(std::string line)
{
    std::string word;
    for (const char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (word == "y" || word == "yes")
        return Answer::Yes;
    if (word == "n" || word == "no")
        return Answer::No;
    if (word == "c" || word == "cancel")
        return Answer::Cancel;
    return Answer::Ask;
}

} // namespace

Questions::Questions(Console& console, Boards& boards, Answer preset, bool canAsk)
    : m_console(console)
    , m_boards(boards)
    , m_preset(preset)
    , m_bCanAsk(canAsk)
{
}

Answer Questions::ReadAnswer(const std::string& prompt)
{
    const int interruptions = Interruptions();
    m_console.Prompt(prompt);
    std::string line;
    while (Interruptions() == interruptions) {
        pollfd input {0, POLLIN, 0};
        const int ready = poll(&input, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char chunk[256];
        const ssize_t n = read(0, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = line.find('\n')) != std::string::npos) {
            const Answer answer = Parse(line.substr(0, end));
            line.erase(0, end + 1);
            if (answer != Answer::Ask) {
                m_console.PromptDone(true);
                return answer;
            }
            m_console.Prompt("please answer y (Yes), n (No) or c (Cancel): ");
        }
    }
    // Interrupted, or the input ended or failed.
    m_console.PromptDone(false);
    return Answer::Cancel;
}

int Questions::Ask(const void* first, const void* second)
{
    const std::lock_guard<std::mutex> hold(m_oneAtATime);
    const std::string question = m_boards.Asker() + " asks: \""
        + Console::Printable(static_cast<const char*>(first)) + "\" \""
        + Console::Printable(static_cast<const char*>(second)) + "\"";
    if (m_preset != Answer::Ask) {
        const char* option = m_preset == Answer::Yes ? "--yes"
            : m_preset == Answer::No                 ? "--no"
                                                     : "--cancel";
        m_console.Line(question + ", answered " + Name(m_preset) + " (" + option + ")");
        return Result(m_preset);
    }
    if (!m_bCanAsk) {
        m_console.Line(
            question + ", answered Cancel: no terminal to ask on (give --yes, --no or --cancel)");
        return Result(Answer::Cancel);
    }
    const Answer answer = ReadAnswer(question + " [y]es, [n]o or [c]ancel? ");
    m_console.Line(std::string("answered ") + Name(answer));
    return Result(answer);
}
