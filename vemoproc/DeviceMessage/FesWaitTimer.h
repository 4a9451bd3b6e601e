// The wait for a device's return in FES: one timer on a thread of its own
// (a condition variable with a deadline), so that no signal, and no SIGALRM
// of the host program, is involved. Arming replaces a pending wait; cancelling
// drops it; when the deadline passes the expiry function runs once, on the
// timer's thread, without any lock held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class FesWaitTimer {
public:
    using Expiry = void (*)();

    explicit FesWaitTimer(Expiry onExpiry);
    ~FesWaitTimer();
    FesWaitTimer(const FesWaitTimer&) = delete;
    FesWaitTimer& operator=(const FesWaitTimer&) = delete;

    // Runs the expiry `after` from now, unless armed again or cancelled
    // first. The thread starts with the first Arm.
    void Arm(std::chrono::milliseconds after);
    void Cancel();
    // No expiry runs after this returns (unless called from the expiry
    // itself); later Arm calls do nothing.
    void Stop();

private:
    void Run();

    const Expiry m_onExpiry;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::thread m_thread;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_armed = false;
    bool m_stopped = false;
};
