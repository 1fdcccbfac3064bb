#include "FetchPermits.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QObject>
#include <memory>

namespace {
// A plain object living in the calling thread, used to post resumptions back to that thread.
QObject *threadContext()
{
    thread_local std::unique_ptr<QObject> context;
    if (!context)
        context = std::make_unique<QObject>();
    return context.get();
}
} // namespace

FetchPermits::Permit::Permit(Permit &&other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr))
{ }

FetchPermits::Permit &FetchPermits::Permit::operator=(Permit &&other) noexcept
{
    if (this != &other) {
        release();
        m_owner = std::exchange(other.m_owner, nullptr);
    }
    return *this;
}

FetchPermits::Permit::~Permit()
{
    release();
}

void FetchPermits::Permit::release()
{
    if (FetchPermits *owner = std::exchange(m_owner, nullptr))
        owner->release();
}

bool FetchPermits::Acquire::await_suspend(std::coroutine_handle<> handle)
{
    QMutexLocker locker(&m_owner->m_mutex);
    // Newcomers never overtake someone already waiting.
    if (m_owner->m_available > 0 && m_owner->m_waiters.empty()) {
        --m_owner->m_available;
        return false;
    }
    m_owner->m_waiters.push_back(Waiter { handle, threadContext() });
    return true;
}

FetchPermits::FetchPermits(int count)
    : m_available(count)
{ }

FetchPermits &FetchPermits::shared()
{
    static FetchPermits *instance = new FetchPermits(defaultCount);
    return *instance;
}

int FetchPermits::available() const
{
    QMutexLocker locker(&m_mutex);
    return m_available;
}

int FetchPermits::waiting() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_waiters.size());
}

void FetchPermits::release()
{
    QMutexLocker locker(&m_mutex);
    while (!m_waiters.empty()) {
        Waiter next = m_waiters.front();
        m_waiters.pop_front();
        if (!next.context)
            continue; // its thread is gone; hand the permit on
        // The permit passes to the waiter directly. Resuming through its event loop keeps the
        // waiter off this call stack and on its own thread.
        QMetaObject::invokeMethod(
            next.context.data(), [handle = next.handle] { handle.resume(); }, Qt::QueuedConnection);
        return;
    }
    ++m_available;
}
