// The tool script's Yes/No/Cancel questions (pfnMessageBox): answered as the
// command line says, else asked on the terminal. Results as the window's:
// 1 Yes, 0 No, -1 Cancel.
#pragma once

#include "Boards.h"
#include "Console.h"
#include "Options.h"

#include <mutex>

class Questions {
public:
    // canAsk: standard input is a terminal the user can answer on.
    Questions(Console& console, Boards& boards, Answer preset, bool canAsk);
    Questions(const Questions&) = delete;
    Questions& operator=(const Questions&) = delete;

    // Blocks until answered. The texts are the script's, NUL-terminated.
    int Ask(const void* first, const void* second);

private:
    // Reads the user's answer from standard input; Cancel when the input
    // ends or the runner is interrupted meanwhile.
    Answer ReadAnswer(const std::string& prompt);

    Console& m_console;
    Boards& m_boards;
    const Answer m_preset;
    const bool m_bCanAsk;
    std::mutex m_oneAtATime;
};
