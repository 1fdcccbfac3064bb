#include "Cairn/CacheWriter.h"

#include <pthread.h>

namespace Cairn {

CacheWriter::CacheWriter(std::function<void()> write, std::chrono::milliseconds interval)
    : m_write(std::move(write))
    , m_interval(interval)
{
    m_thread = std::thread([this] { run(); });
    pthread_setname_np(m_thread.native_handle(), "cairn.CacheWrite");
}

CacheWriter::~CacheWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CacheWriter::markDirty()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dirty)
            return;
        m_dirty = true;
    }
    m_wake.notify_all();
}

void CacheWriter::discardPending()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dirty = false;
    if (!m_writing)
        m_idle.notify_all();
}

void CacheWriter::waitForIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_dirty && !m_writing; });
}

void CacheWriter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_dirty || m_stopping; });
        if (!m_dirty)
            return; // stopping, nothing left to write
        // Gather the changes of the rest of the interval; stopping cuts the wait short.
        m_wake.wait_until(lock, m_lastWrite + m_interval, [this] { return m_stopping || !m_dirty; });
        if (!m_dirty)
            continue;
        m_dirty = false;
        m_writing = true;
        lock.unlock();
        m_write();
        lock.lock();
        m_writing = false;
        m_lastWrite = std::chrono::steady_clock::now();
        if (!m_dirty)
            m_idle.notify_all();
    }
}

} // namespace Cairn
