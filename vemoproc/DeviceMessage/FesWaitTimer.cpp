#include "FesWaitTimer.h"

#include <system_error>

#include "PyrraDebug.h"

FesWaitTimer::FesWaitTimer(Expiry onExpiry)
    : m_onExpiry(onExpiry)
{
}

FesWaitTimer::~FesWaitTimer()
{
    Stop();
}

void FesWaitTimer::Arm(std::chrono::milliseconds after)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_stopped)
        return;
    m_deadline = std::chrono::steady_clock::now() + after;
    m_armed = true;
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&FesWaitTimer::Run, this);
        } catch (const std::system_error& error) {
            m_armed = false;
            PyrraDebug::DebugErr(
                "FesWaitTimer: no timer thread (%s); the wait is not timed\n", error.what());
            return;
        }
    }
    m_wake.notify_all();
}

void FesWaitTimer::Cancel()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_armed = false;
    m_wake.notify_all();
}

void FesWaitTimer::Stop()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopped = true;
        m_armed = false;
        m_wake.notify_all();
    }
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void FesWaitTimer::Run()
{
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_stopped) {
        if (!m_armed) {
            m_wake.wait(hold);
            continue;
        }
        if (m_wake.wait_until(hold, m_deadline) != std::cv_status::timeout)
            continue; // armed again, cancelled or stopped: look afresh
        if (!m_armed || std::chrono::steady_clock::now() < m_deadline)
            continue;
        m_armed = false;
        hold.unlock();
        m_onExpiry();
        hold.lock();
    }
}
