#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Cairn {

// A serial worker: jobs run one at a time on one background thread, in submission order.
// Built on std::thread, std::mutex and std::condition_variable, so that ThreadSanitizer sees
// every hand-over.
class SerialQueue
{
public:
    explicit SerialQueue(const QString &label);
    // Runs the jobs still queued, then stops the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    void async(std::function<void()> job);
    // Blocks until every job submitted so far has run.
    void waitForDone();
    QString label() const { return m_label; }

private:
    void run();

    const QString m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace Cairn
