#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Holds server handlers back until the test opens it (or a generous time has passed, so that
// a failing test cannot hang).
class TestGate
{
public:
    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

    // Called on a server thread: returns once the gate is open.
    void pass(std::chrono::seconds patience = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait_for(lock, patience, [this] { return m_open; });
        --m_waiting;
    }

    int waiting()
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_waiting = 0;
};
