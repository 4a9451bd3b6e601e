// The boards of one runner session, followed through the plug-in's reports:
// which board a report belongs to, its phase (FEL half, wait for its return
// in FES, FES half), its durations, and whether it ended well. A board ended
// well only when its run reached the end report with no error for it and its
// FES half ended with result 0; everything else counts as failed.
//
// The reports arrive on the plug-in's threads, the main loop asks from its
// own; every member is safe from any thread.
#pragma once

#include "Console.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class Boards {
public:
    using Clock = std::chrono::steady_clock;

    // count: boards to finish before ending, 0 for no limit. imageBytes: the
    // image file's size, for the estimated write rate.
    Boards(Console& console, int64_t imageBytes, unsigned long count);
    Boards(const Boards&) = delete;
    Boards& operator=(const Boards&) = delete;

    // pfnBurnBegin: with armTimeout a board arrived in FEL and its run
    // begins; without, a board came back in FES after its time-out. False
    // when the runner is ending: the board must then be left untouched.
    bool RunBegins(unsigned int armTimeout);
    void Progress(unsigned int percent, const char* text);
    void Error(const char* text);
    void Warning(const char* text);
    void Over(const char* text);
    // The plug-in's milestones (pfnUpdateTipInfo).
    void FelHalfEnded(uint32_t result);
    void FesHalfBegins(int deviceId);
    void FesHalfEnded(int deviceId, uint32_t result);

    // "board 3", or "a board" outside a run: who asks a question.
    std::string Asker();

    // The main loop's side. Done: ending, and no board in flight.
    bool Done();
    // Ctrl-C: no new board is taken, the one in flight is finished.
    void Interrupt();
    // A second Ctrl-C: the board in flight is cut off, counted as failed.
    void CutOff();
    // Once a second: the bar's rate and time left, the start watchdog.
    void Tick();
    // The number of the last board that could not be taken because its
    // node could not be queried, once; 0 when there was none since.
    int TakeUnreadableArrival();
    // Prints the summary line; returns the exit status (ExitStatus.h).
    int Finish();

    // How long a run may go without a non-zero percentage before it is
    // reported as stalled (the window's start watchdog).
    static constexpr std::chrono::seconds kWatchdog {120};

private:
    enum class Phase { Fel, Wait, Fes, Ended };
    struct Board {
        int number = 0;
        Phase phase = Phase::Fel;
        Clock::time_point begun, felEnded, fesBegun, ended;
        bool tookFel = false; // its run began with a FEL arrival
        bool felEndSeen = false;
        bool fesBeginSeen = false;
        int deviceId = 0;
        bool overReported = false;
        bool fesEndSeen = false;
        uint32_t fesResult = 0;
        std::vector<std::string> errors;
        bool timedOut = false; // no return in FES within the wait
        bool late = false;     // came back in FES after timing out
        bool watchdog = false; // armed and not yet fired
        bool progressSeen = false;
        ProgressView view;
    };

    // The board whose run began last, while its run goes on.
    Board* InFlight();
    // The board whose run began last; null before the first.
    Board* Latest();
    // The last board whose run has not ended, whichever it is.
    Board* Unended();
    // run: its run begins (else it is an arrival that was not taken).
    Board& NewBoard(Phase phase, bool run);
    void End(Board& board);
    bool Good(const Board& board) const;
    std::string Reason(const Board& board) const;
    std::string Summary(const Board& board) const;
    void Say(const Board& board, const std::string& text);
    void ShowProgress(Board& board, bool logged);

    Console& m_console;
    const int64_t m_nImageBytes;
    const unsigned long m_nCount;
    std::mutex m_lock;
    // Before a new board is added: the ended boards before the latest run
    // are summed up and let go, so a long run does not grow.
    void SumUpEnded();

    std::vector<Board> m_boards; // the latest run and the boards not ended, in order
    int m_nLatestRun = -1;       // index of Latest()
    int m_nBoards = 0;           // every board so far
    unsigned long m_nSummedGood = 0;
    std::vector<int> m_summedFailed; // numbers of the boards summed up as failed
    unsigned long m_nFinished = 0;
    bool m_bEnding = false;
    bool m_bInterrupted = false;
    bool m_bStrayError = false; // an error that belonged to no board
    int m_nUnreadableArrival = 0;
};
