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
    // Runs jobs, also those the jobs post, until none is left (at termination, when no later
    // turn comes). A job that keeps posting itself is given up on after `rounds` rounds.
    void drain(int rounds = 100);
    // Hands over the jobs not run yet: when their thread will never turn again, the caller
    // drops them (a job may hold the last reference to this object's owner).
    std::deque<std::function<void()>> takePending();
    // On this object's thread: whether one of its jobs is running now.
    bool isRunningJobs() const { return m_runDepth > 0; }

Q_SIGNALS:
    void wake();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_jobs;
    bool m_wakePending = false;
    int m_runDepth = 0;
};

} // namespace Cairn
