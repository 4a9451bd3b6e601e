#include "Boards.h"

#include "ExitStatus.h"
#include "RunFigures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

using Ms = std::chrono::milliseconds;

// The session controller's texts (vemoproc/DeviceMessage/), as the runner
// tells them apart.
// For a board it did not take: no run began for it, so they never belong to
// the board in flight. Its node could not be queried; a FEL board arrived
// while another board's script still ran.
const char kUnreadableError[] = "Get Device Stage Failed!";
const char* const kArrivalErrors[] = {
    kUnreadableError,
    "Another board's run is still in progress: re-plug this board in FEL when it has ended",
};

// After these the controller does nothing more for the board: its FEL
// arrival, its FEL thread or its FES arrival failed, or the script state its
// FEL half prepared is gone.
const char* const kRunEndingErrors[] = {
    "PnpFelIn Error!",
    "FelThreadEntry g_Tools_if==NULL!!!",
    "FelThreadEntry g_Tools_if->Fel2Fes Error!!!!",
    "PnpFesIn Error!",
    "The image was loaded again since this board left FEL: re-plug the board in FEL",
};
const char kTimeoutError[] = "Wait for Fes Device Timeout...";

bool OneOf(const char* text, const char* const* first, const char* const* last)
{
    return std::any_of(
        first, last, [text](const char* known) { return std::strcmp(text, known) == 0; });
}

int64_t MsBetween(Boards::Clock::time_point from, Boards::Clock::time_point to)
{
    return std::chrono::duration_cast<Ms>(to - from).count();
}

std::string Seconds(int64_t ms)
{
    char text[32];
    const double seconds = static_cast<double>(ms) / 1000.0;
    std::snprintf(text, sizeof text, seconds < 10 ? "%.2f s" : "%.1f s", seconds);
    return text;
}

// A script entry's result: its code, or in hex the values that stand for a
// negative number (0xFFFFFFFF for a false result).
std::string ResultText(uint32_t result)
{
    char text[16];
    std::snprintf(text, sizeof text, result > INT32_MAX ? "0x%X" : "%u", result);
    return text;
}

} // namespace

Boards::Boards(Console& console, int64_t imageBytes, unsigned long count)
    : m_console(console)
    , m_nImageBytes(imageBytes)
    , m_nCount(count)
{
}

Boards::Board* Boards::InFlight()
{
    Board* board = Latest();
    return board && board->phase != Phase::Ended ? board : nullptr;
}

Boards::Board* Boards::Latest()
{
    return m_nLatestRun < 0 ? nullptr : &m_boards[static_cast<size_t>(m_nLatestRun)];
}

void Boards::SumUpEnded()
{
    const Board* latest = Latest();
    const int keep = latest ? latest->number : 0;
    std::vector<Board> kept;
    for (Board& board : m_boards) {
        if (board.phase != Phase::Ended || board.number == keep) {
            kept.push_back(std::move(board));
        } else if (Good(board)) {
            ++m_nSummedGood;
        } else {
            m_summedFailed.push_back(board.number);
        }
    }
    m_boards.swap(kept);
    m_nLatestRun = -1;
    for (size_t i = 0; i < m_boards.size(); ++i) {
        if (m_boards[i].number == keep)
            m_nLatestRun = static_cast<int>(i);
    }
}

Boards::Board& Boards::NewBoard(Phase phase, bool run)
{
    SumUpEnded();
    Board board;
    board.number = ++m_nBoards;
    board.phase = phase;
    board.begun = Clock::now();
    board.view.board = board.number;
    m_boards.push_back(board);
    if (run)
        m_nLatestRun = static_cast<int>(m_boards.size()) - 1;
    return m_boards.back();
}

void Boards::Say(const Board& board, const std::string& text)
{
    m_console.Line("board " + std::to_string(board.number) + ": " + text);
}

bool Boards::Good(const Board& board) const
{
    return board.phase == Phase::Ended && board.overReported && board.fesEndSeen
        && board.fesResult == 0 && board.errors.empty();
}

std::string Boards::Reason(const Board& board) const
{
    if (!board.errors.empty()) {
        std::string reason = board.errors.front();
        if (board.errors.size() > 1)
            reason += ", and " + std::to_string(board.errors.size() - 1)
                + (board.errors.size() == 2 ? " more error" : " more errors");
        return reason;
    }
    if (board.fesEndSeen && board.fesResult != 0)
        return "FES half ended with result " + ResultText(board.fesResult);
    if (!board.overReported)
        return "no end report";
    return "FES half did not end";
}

std::string Boards::Summary(const Board& board) const
{
    std::string line = "board " + std::to_string(board.number) + ": "
        + (Good(board) ? std::string("ok") : "FAILED (" + Reason(board) + ")") + ", DeviceId "
        + (board.fesBeginSeen ? std::to_string(board.deviceId) : std::string("-"));
    std::string fel = "-";
    if (board.felEndSeen)
        fel = Seconds(MsBetween(board.begun, board.felEnded));
    else if (board.tookFel)
        fel = Seconds(MsBetween(board.begun, board.ended));
    std::string wait = "-";
    if (board.felEndSeen)
        wait
            = Seconds(MsBetween(board.felEnded, board.fesBeginSeen ? board.fesBegun : board.ended));
    const std::string fes
        = board.fesBeginSeen ? Seconds(MsBetween(board.fesBegun, board.ended)) : std::string("-");
    line += ", FEL half " + fel + ", wait " + wait + ", FES half " + fes;
    if (board.late)
        line += ", came back in FES after its time-out";
    return line;
}

void Boards::End(Board& board)
{
    if (board.phase == Phase::Ended)
        return;
    m_console.EndBar(board.number);
    board.phase = Phase::Ended;
    board.ended = Clock::now();
    m_console.Line(Summary(board));
    // A board that comes back late was counted when it timed out.
    if (!board.late)
        ++m_nFinished;
    if (m_nCount && m_nFinished >= m_nCount)
        m_bEnding = true;
}

void Boards::ShowProgress(Board& board, bool logged)
{
    const Clock::time_point from = board.fesBeginSeen ? board.fesBegun : board.begun;
    const int64_t ms = MsBetween(from, Clock::now());
    const int percent = board.view.percent;
    board.view.rate = RateText(m_nImageBytes, percent, ms);
    board.view.left = percent > 0 && percent < 100 ? ElapsedText(ms * (100 - percent) / percent)
                                                   : std::string();
    if (logged)
        m_console.Progress(board.view);
    else
        m_console.Redraw(board.view);
}

bool Boards::RunBegins(unsigned int armTimeout)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_bEnding) {
        m_console.Line("a board arrived while the runner is ending: left untouched");
        return false;
    }
    if (!armTimeout) {
        // Its FES half follows (FesHalfBegins) and is told there.
        const Board* late = Latest();
        m_console.Line((late && late->timedOut ? "board " + std::to_string(late->number)
                                               : std::string("a board"))
            + " came back in FES after its time-out");
        return true;
    }
    // A board in its FES half has ended its script already (the plug-in
    // takes no FEL board before); its end milestone may still be on its way.
    Board* earlier = InFlight();
    if (earlier && earlier->phase != Phase::Fes) {
        earlier->errors.push_back(earlier->phase == Phase::Wait
                ? "another board arrived in FEL before this one came back in FES"
                : "another board's run began while this one was still going");
        End(*earlier);
        if (m_bEnding) {
            m_console.Line("a board arrived while the runner is ending: left untouched");
            return false;
        }
    }
    Board& board = NewBoard(Phase::Fel, true);
    board.tookFel = true;
    board.watchdog = true;
    Say(board, "arrived in FEL, its run begins");
    return true;
}

void Boards::Progress(unsigned int percent, const char* text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Board* board = InFlight();
    const std::string shown = Console::Printable(text);
    if (!board) {
        m_console.Line("progress outside a run: " + std::to_string(percent) + "% " + shown);
        return;
    }
    board->view.percent = static_cast<int>(std::min(percent, 100u));
    board->view.text = shown;
    if (percent)
        board->progressSeen = true;
    ShowProgress(*board, true);
}

void Boards::Error(const char* text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const std::string shown = Console::Printable(text);
    const char* raw = text ? text : "";
    Board* waiting = InFlight();
    if (waiting && waiting->phase == Phase::Wait && std::strcmp(raw, kUnreadableError) == 0) {
        // Most likely that board coming back in FES: its wait goes on, to
        // its time-out or the next board's arrival; no board is counted twice.
        waiting->errors.push_back(shown);
        Say(*waiting, "came back, but could not be queried: " + shown);
        m_nUnreadableArrival = waiting->number;
        return;
    }
    if (OneOf(raw, std::begin(kArrivalErrors), std::end(kArrivalErrors))) {
        Board& board = NewBoard(Phase::Fel, false);
        board.errors.push_back(shown);
        Say(board, "arrived, but could not be taken: " + shown);
        if (std::strcmp(raw, kUnreadableError) == 0)
            m_nUnreadableArrival = board.number;
        End(board);
        return;
    }
    Board* board = InFlight();
    if (!board)
        board = Latest();
    if (!board) {
        m_bStrayError = true;
        m_console.Line("error outside a run: " + shown);
        return;
    }
    board->errors.push_back(shown);
    Say(*board, "error: " + shown);
    if (std::strcmp(raw, kTimeoutError) == 0 && board->phase == Phase::Wait) {
        board->timedOut = true;
        End(*board);
    } else if (OneOf(raw, std::begin(kRunEndingErrors), std::end(kRunEndingErrors))) {
        End(*board);
    }
}

void Boards::Warning(const char* text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const std::string shown = Console::Printable(text);
    if (Board* board = InFlight())
        Say(*board, "warning: " + shown);
    else
        m_console.Line("warning outside a run: " + shown);
}

void Boards::Over(const char* text)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const std::string shown = Console::Printable(text);
    Board* board = InFlight();
    if (!board) {
        m_console.Line("end report outside a run: " + shown);
        return;
    }
    board->overReported = true;
    board->view.percent = 100;
    ShowProgress(*board, false);
    Say(*board, "end report: " + shown);
}

void Boards::FelHalfEnded(uint32_t result)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Board* board = InFlight();
    if (!board || board->phase != Phase::Fel)
        return;
    board->felEnded = Clock::now();
    board->felEndSeen = true;
    if (result != 0) {
        board->errors.push_back("FEL half ended with result " + ResultText(result));
        End(*board);
        return;
    }
    board->phase = Phase::Wait;
    Say(*board,
        "FEL half done in " + Seconds(MsBetween(board->begun, board->felEnded))
            + ", waiting for it in FES");
}

void Boards::FesHalfBegins(int deviceId)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Board* board = InFlight();
    if (!board) {
        // After its time-out the board counted as failed; it is flashed now
        // all the same, and stays counted as it was.
        board = Latest();
        if (board && board->timedOut && !board->late) {
            board->late = true;
            board->phase = Phase::Fes;
        } else {
            board = &NewBoard(Phase::Fes, true);
            board->errors.push_back("its FES half began with no FEL half seen");
        }
    }
    board->phase = Phase::Fes;
    board->fesBegun = Clock::now();
    board->fesBeginSeen = true;
    board->deviceId = deviceId;
    board->view.percent = 0;
    board->view.text.clear();
    Say(*board,
        "back in FES as DeviceId " + std::to_string(deviceId)
            + (board->felEndSeen ? " after " + Seconds(MsBetween(board->felEnded, board->fesBegun))
                                 : std::string())
            + ", flashing");
}

void Boards::FesHalfEnded(int deviceId, uint32_t result)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    // By its DeviceId: the next board's run may have begun meanwhile.
    for (Board& board : m_boards) {
        if (board.phase == Phase::Fes && board.deviceId == deviceId) {
            board.fesEndSeen = true;
            board.fesResult = result;
            End(board);
            return;
        }
    }
}

Boards::Board* Boards::Unended()
{
    for (auto board = m_boards.rbegin(); board != m_boards.rend(); ++board) {
        if (board->phase != Phase::Ended)
            return &*board;
    }
    return nullptr;
}

std::string Boards::Asker()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const Board* board = InFlight();
    return board ? "board " + std::to_string(board->number) : std::string("a board");
}

bool Boards::Done()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_bEnding && !Unended();
}

void Boards::Interrupt()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_bEnding = true;
    m_bInterrupted = true;
    const Board* board = Unended();
    if (!board) {
        m_console.Line("interrupted: ending");
        return;
    }
    const char* phase = board->phase == Phase::Fel ? "FEL half"
        : board->phase == Phase::Wait              ? "wait for its return in FES"
                                                   : "FES half";
    std::string where = phase;
    if (board->phase == Phase::Fes)
        where += " (" + std::to_string(board->view.percent) + "%)";
    m_console.Line("interrupted: board " + std::to_string(board->number) + " is in its " + where
        + "; it is finished first (Ctrl-C again to stop at once)");
}

void Boards::CutOff()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_bEnding = true;
    m_bInterrupted = true;
    Board* board = InFlight();
    if (!board) {
        m_console.Line("interrupted again: ending now");
        return;
    }
    board->errors.push_back("cut off by a second Ctrl-C");
    m_console.Line(
        "interrupted again: ending now, board " + std::to_string(board->number) + " is cut off");
    End(*board);
}

void Boards::Tick()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Board* board = InFlight();
    if (!board)
        return;
    if (board->watchdog && !board->progressSeen && Clock::now() - board->begun >= kWatchdog) {
        board->watchdog = false;
        Say(*board,
            "no progress " + ElapsedText(MsBetween(board->begun, Clock::now()))
                + " after its run began; it may be stalled");
    }
    if (board->phase == Phase::Fes && board->view.percent > 0)
        ShowProgress(*board, false);
}

int Boards::TakeUnreadableArrival()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const int number = m_nUnreadableArrival;
    m_nUnreadableArrival = 0;
    return number;
}

int Boards::Finish()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    std::string failed;
    for (const int number : m_summedFailed)
        failed += (failed.empty() ? "" : ", ") + std::to_string(number);
    unsigned long good = m_nSummedGood;
    for (const Board& board : m_boards) {
        if (Good(board))
            ++good;
        else
            failed += (failed.empty() ? "" : ", ") + std::to_string(board.number);
    }
    const auto total = static_cast<unsigned long>(m_nBoards);
    std::string line = "summary: " + std::to_string(total) + (total == 1 ? " board, " : " boards, ")
        + std::to_string(good) + " ok, " + std::to_string(total - good) + " failed";
    if (!failed.empty())
        line += " (board " + failed + ")";
    if (m_bStrayError)
        line += ", and an error outside any run";
    const bool short_of_count = m_nCount && m_nFinished < m_nCount;
    if (m_bInterrupted && short_of_count)
        line += "; interrupted before " + std::to_string(m_nCount) + " boards finished";
    m_console.Line(line);
    if (good != total || m_bStrayError)
        return kExitBoardFailed;
    return short_of_count ? kExitInterrupted : kExitAllGood;
}
