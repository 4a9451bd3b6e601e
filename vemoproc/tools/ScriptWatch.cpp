#include "ScriptWatch.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <lua.hpp>

#include "PyrraDebug.h"
#include "Report.h"

namespace ScriptWatch {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kEndedPrefix[] = "the tool script was ended: ";
// The prefix, an entry's name or a reason of kWhyLength, and the terminator.
constexpr size_t kTextSize = sizeof kEndedPrefix + kWhyLength + 64;

// A question of the script, asked on a helper thread so that an ended run
// does not wait for the host's answer.
struct Question {
    std::mutex lock;
    std::condition_variable changed;
    bool answered = false;
    bool dropped = false; // the run was ended first
    int answer = 0;
    char* first;
    char* second;
};

} // namespace

struct Record {
    lua_State* L;
    const char* entry;
    Record* outer; // the thread's run before this one
    Clock::time_point begun;
    bool ended = false;
    bool graceGiven = false;
    char why[kTextSize] = {};
    std::condition_variable wake;       // a sleeping ToolsSuspend
    std::shared_ptr<Question> question; // a question waiting for its answer
};

namespace {

struct Watch {
    std::mutex lock;
    std::condition_variable changed; // runs came, went or ended, or the limit moved
    std::vector<Record*> runs;
    std::chrono::milliseconds limit = kDefaultLimit;
    bool watcherStarted = false;
};

// Never destroyed: the watcher thread and script threads may outlive static
// destruction.
Watch& W()
{
    static Watch* watch = new Watch;
    return *watch;
}

thread_local Record* t_pRun = nullptr;

void EndHook(lua_State* L, lua_Debug* ar);

// Under W().lock: marks the run ended, hooks its state and wakes whatever of
// it waits. The host is told when the run has ended (Run's destructor), on the
// script's thread and before the run's own failure reports.
void EndLocked(Record& run, const char* why)
{
    run.ended = true;
    std::snprintf(
        run.why, sizeof run.why, "%s%.*s", kEndedPrefix, static_cast<int>(kWhyLength), why);
    lua_sethook(run.L, EndHook, LUA_MASKCOUNT, 1);
    PyrraDebug::DebugErr("ScriptWatch: Tools.%s: %s\n", run.entry, run.why);
    run.wake.notify_all();
    if (run.question) {
        const std::lock_guard<std::mutex> hold(run.question->lock);
        run.question->dropped = true;
        run.question->changed.notify_all();
    }
}

// The text to raise in L, false when no ended run is in L any more. After the
// first raise the script's handlers get a grace, then every instruction
// raises.
bool TextToRaise(lua_State* L, char (&text)[kTextSize])
{
    const std::lock_guard<std::mutex> hold(W().lock);
    for (Record* run : W().runs) {
        if (run->L != L || !run->ended)
            continue;
        std::snprintf(text, sizeof text, "%s", run->why);
        lua_sethook(L, EndHook, LUA_MASKCOUNT, run->graceGiven ? 1 : kGraceInstructions);
        run->graceGiven = true;
        return true;
    }
    return false;
}

void EndHook(lua_State* L, lua_Debug*)
{
    char text[kTextSize];
    if (!TextToRaise(L, text)) {
        lua_sethook(L, nullptr, 0, 0);
        return;
    }
    lua_pushstring(L, text);
    lua_error(L);
}

// "2 s", "1.5 s", "3600 s".
void LimitText(std::chrono::milliseconds limit, const char* entry, char (&text)[kTextSize])
{
    std::snprintf(text, sizeof text, "Tools.%s ran longer than %g s", entry,
        static_cast<double>(limit.count()) / 1000.0);
}

// Ends the runs that have outlived the limit.
[[noreturn]] void Watcher()
{
    std::unique_lock<std::mutex> hold(W().lock);
    for (;;) {
        const std::chrono::milliseconds limit = W().limit;
        Clock::time_point next = Clock::time_point::max();
        for (Record* run : W().runs) {
            if (run->ended || limit.count() <= 0)
                continue;
            const Clock::time_point deadline = run->begun + limit;
            if (Clock::now() >= deadline) {
                char why[kTextSize];
                LimitText(limit, run->entry, why);
                EndLocked(*run, why);
            } else {
                next = std::min(next, deadline);
            }
        }
        if (next == Clock::time_point::max())
            W().changed.wait(hold);
        else
            W().changed.wait_until(hold, next);
    }
}

// Under W().lock: the watcher runs from the first run on.
void StartWatcherLocked()
{
    if (W().watcherStarted)
        return;
    try {
        std::thread(Watcher).detach();
        W().watcherStarted = true;
    } catch (const std::system_error& error) {
        PyrraDebug::DebugErr("ScriptWatch: no watcher thread (%s); no time limit\n", error.what());
    }
}

void PlainSleep(std::chrono::microseconds length)
{
    const auto us = length.count();
    timespec rest {static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    // A signal must not cut the pause short.
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) { }
}

// The helper thread of Ask.
void AskHost(std::shared_ptr<Question> question)
{
    const int answer = ReportMessageBox(question->first, question->second);
    std::free(question->first);
    std::free(question->second);
    const std::lock_guard<std::mutex> hold(question->lock);
    question->answer = answer;
    question->answered = true;
    question->changed.notify_all();
}

} // namespace

Run::Run(lua_State* L, const char* entry)
    : m_pRecord(nullptr)
{
    try {
        auto record = std::make_unique<Record>();
        record->L = L;
        record->entry = entry;
        record->outer = t_pRun;
        record->begun = Clock::now();
        const std::lock_guard<std::mutex> hold(W().lock);
        W().runs.push_back(record.get());
        StartWatcherLocked();
        W().changed.notify_all();
        m_pRecord = record.release();
        t_pRun = m_pRecord;
    } catch (const std::exception& error) {
        PyrraDebug::DebugErr("ScriptWatch: Tools.%s not watched (%s)\n", entry, error.what());
    }
}

Run::~Run()
{
    if (!m_pRecord)
        return;
    {
        const std::lock_guard<std::mutex> hold(W().lock);
        auto& runs = W().runs;
        runs.erase(std::remove(runs.begin(), runs.end(), m_pRecord), runs.end());
        if (m_pRecord->ended)
            lua_sethook(m_pRecord->L, nullptr, 0, 0);
        W().changed.notify_all();
    }
    t_pRun = m_pRecord->outer;
    if (m_pRecord->ended)
        ReportBurnError(m_pRecord->why);
    delete m_pRecord;
}

void SetLimit(std::chrono::milliseconds limit)
{
    const std::lock_guard<std::mutex> hold(W().lock);
    W().limit = std::max(limit, std::chrono::milliseconds(0));
    W().changed.notify_all();
}

std::chrono::milliseconds Limit()
{
    const std::lock_guard<std::mutex> hold(W().lock);
    return W().limit;
}

int EndRuns(const char* why)
{
    const std::lock_guard<std::mutex> hold(W().lock);
    int ended = 0;
    for (Record* run : W().runs) {
        if (run->ended)
            continue;
        EndLocked(*run, why);
        ++ended;
    }
    return ended;
}

bool Sleep(std::chrono::microseconds length)
{
    Record* run = t_pRun;
    if (!run) {
        PlainSleep(length);
        return true;
    }
    try {
        std::unique_lock<std::mutex> hold(W().lock);
        const Clock::time_point until = Clock::now() + length;
        run->wake.wait_until(hold, until, [run] { return run->ended; });
        return !run->ended;
    } catch (const std::system_error&) {
        PlainSleep(length);
        return true;
    }
}

int Ask(char* first, char* second, bool& ended)
{
    ended = false;
    Record* run = t_pRun;
    std::shared_ptr<Question> question;
    if (run) {
        try {
            question = std::make_shared<Question>();
            question->first = first;
            question->second = second;
            const std::lock_guard<std::mutex> hold(W().lock);
            if (run->ended) {
                std::free(first);
                std::free(second);
                ended = true;
                return 0;
            }
            std::thread(AskHost, question).detach();
            run->question = question;
        } catch (const std::exception&) {
            question.reset(); // no helper: asked on this thread
        }
    }
    if (!question) {
        const int answer = ReportMessageBox(first, second);
        std::free(first);
        std::free(second);
        return answer;
    }
    int answer = 0;
    {
        std::unique_lock<std::mutex> hold(question->lock);
        question->changed.wait(hold, [&] { return question->answered || question->dropped; });
        ended = !question->answered;
        answer = question->answer;
    }
    const std::lock_guard<std::mutex> hold(W().lock);
    run->question.reset();
    ended = ended || run->ended;
    return answer;
}

namespace {

void EndedText(char (&text)[kTextSize])
{
    const std::lock_guard<std::mutex> hold(W().lock);
    if (t_pRun && t_pRun->ended)
        std::snprintf(text, sizeof text, "%s", t_pRun->why);
    else
        std::snprintf(text, sizeof text, "%s%s", kEndedPrefix, "the run was ended");
}

} // namespace

int RaiseEnded(lua_State* L)
{
    char text[kTextSize];
    EndedText(text);
    lua_pushstring(L, text);
    return lua_error(L);
}

} // namespace ScriptWatch
