#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace Cairn {

// Runs jobs on the thread this object lives in, at that thread's next event-loop turn, in the
// order they were posted. post() may be called from any thread. The jobs travel through a
// std::mutex-guarded queue (visible to ThreadSanitizer); Qt's event queue only carries the
// wake-up. Delete it with deleteLater(): a job may drop the last reference to its owner.
class Dispatcher : public QObject
{
    Q_OBJECT
public:
    explicit Dispatcher(QObject *parent = nullptr);
    ~Dispatcher() override;

    void post(std::function<void()> job);
    // Runs every job posted so far, now (on this object's thread).
    void runPending();

Q_SIGNALS:
    void wake();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_jobs;
    bool m_wakePending = false;
};

} // namespace Cairn
