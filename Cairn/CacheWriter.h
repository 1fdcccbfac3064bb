#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Cairn {

// Runs a write job on a background thread whenever something changed, at most once per
// interval: the first change after a quiet spell is written at once, later ones are gathered
// until the interval since the last write has passed. Built on std primitives, so that
// ThreadSanitizer sees every hand-over.
class CacheWriter
{
public:
    CacheWriter(std::function<void()> write, std::chrono::milliseconds interval);
    // Writes what is still pending, then stops the thread.
    ~CacheWriter();
    CacheWriter(const CacheWriter &) = delete;
    CacheWriter &operator=(const CacheWriter &) = delete;

    void markDirty();
    // Forgets a pending write (the caller has just written the same state itself).
    void discardPending();
    // Blocks until nothing is pending or being written.
    void waitForIdle();

private:
    void run();

    const std::function<void()> m_write;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_dirty = false;
    bool m_writing = false;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_lastWrite {};
    std::thread m_thread;
};

} // namespace Cairn
