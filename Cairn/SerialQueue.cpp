#include "Cairn/SerialQueue.h"

#include <pthread.h>

namespace Cairn {

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
{
    m_thread = std::thread([this] { run(); });
    // Linux keeps 15 characters of a thread's name.
    pthread_setname_np(m_thread.native_handle(), label.right(15).toUtf8().constData());
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void SerialQueue::async(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SerialQueue::waitForDone()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_running; });
}

void SerialQueue::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
        if (m_jobs.empty())
            return; // stopping, nothing left
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_running = true;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        m_running = false;
        if (m_jobs.empty())
            m_idle.notify_all();
    }
}

} // namespace Cairn
