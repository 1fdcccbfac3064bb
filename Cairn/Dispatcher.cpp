#include "Cairn/Dispatcher.h"

namespace Cairn {

Dispatcher::Dispatcher(QObject *parent)
    : QObject(parent)
{
    connect(this, &Dispatcher::wake, this, &Dispatcher::runPending, Qt::QueuedConnection);
}

Dispatcher::~Dispatcher()
{
    // Jobs posted but never run are dropped here, often on another thread than the poster's;
    // the lock orders that after the last post (Qt's deleteLater hand-over is invisible to
    // ThreadSanitizer).
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        jobs.swap(m_jobs);
    }
}

void Dispatcher::post(std::function<void()> job)
{
    bool wakeUp = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
        wakeUp = !m_wakePending;
        m_wakePending = true;
    }
    if (wakeUp)
        Q_EMIT wake();
}

void Dispatcher::runPending()
{
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        jobs.swap(m_jobs);
        m_wakePending = false;
    }
    ++m_runDepth;
    for (auto &job : jobs) {
        job();
        job = nullptr;
    }
    --m_runDepth;
}

void Dispatcher::drain(int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_jobs.empty())
                return;
        }
        runPending();
    }
}

std::deque<std::function<void()>> Dispatcher::takePending()
{
    std::deque<std::function<void()>> jobs;
    std::lock_guard<std::mutex> lock(m_mutex);
    jobs.swap(m_jobs);
    return jobs;
}

} // namespace Cairn
