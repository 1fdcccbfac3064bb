#pragma once

// Happens-before annotations for ThreadSanitizer. Qt's own synchronisation (QReadWriteLock,
// QThread::wait) lives in a library that was not built with the sanitizer, so TSan cannot see
// it and would report every hand-over through it as a race. The helpers below restate those
// hand-overs where Cairn relies on them; without TSan they compile to nothing (the lockers are
// then plain QReadLocker / QWriteLocker). Jobs posted to other threads go through Dispatcher and
// SerialQueue, which use std::mutex and are visible to TSan as they are.

#include <QReadWriteLock>

#if defined(__SANITIZE_THREAD__)
#define CAIRN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CAIRN_TSAN 1
#endif
#endif

#ifdef CAIRN_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace Cairn::Sync {

// Everything this thread did before publish(token) happens before everything another thread
// does after receive(token).
inline void publish(const void *token)
{
#ifdef CAIRN_TSAN
    __tsan_release(const_cast<void *>(token));
#else
    Q_UNUSED(token);
#endif
}

inline void receive(const void *token)
{
#ifdef CAIRN_TSAN
    __tsan_acquire(const_cast<void *>(token));
#else
    Q_UNUSED(token);
#endif
}

// QReadLocker / QWriteLocker that also tell TSan about the lock.
class ReadLocker
{
public:
    explicit ReadLocker(QReadWriteLock *lock)
        : m_lock(lock)
    {
        m_lock->lockForRead();
        receive(m_lock);
    }
    ~ReadLocker()
    {
        publish(m_lock);
        m_lock->unlock();
    }
    ReadLocker(const ReadLocker &) = delete;
    ReadLocker &operator=(const ReadLocker &) = delete;

private:
    QReadWriteLock *m_lock;
};

class WriteLocker
{
public:
    explicit WriteLocker(QReadWriteLock *lock)
        : m_lock(lock)
    {
        m_lock->lockForWrite();
        receive(m_lock);
    }
    ~WriteLocker()
    {
        publish(m_lock);
        m_lock->unlock();
    }
    WriteLocker(const WriteLocker &) = delete;
    WriteLocker &operator=(const WriteLocker &) = delete;

private:
    QReadWriteLock *m_lock;
};

} // namespace Cairn::Sync
