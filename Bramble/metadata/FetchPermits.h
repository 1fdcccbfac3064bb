#pragma once

#include <QMutex>
#include <QPointer>
#include <coroutine>
#include <deque>

class QObject;

// An asynchronous counting semaphore for coroutines. A waiting coroutine is suspended (it holds
// no thread) and waiters are served strictly in arrival order. A released permit goes straight
// to the first waiter, which resumes on its own thread's event loop.
class FetchPermits
{
public:
    static constexpr int defaultCount = 3;

    // Owns one permit and gives it back exactly once: on release(), on destruction, or never
    // if it was moved from.
    class Permit
    {
    public:
        Permit() = default;
        Permit(Permit &&other) noexcept;
        Permit &operator=(Permit &&other) noexcept;
        Permit(const Permit &) = delete;
        Permit &operator=(const Permit &) = delete;
        ~Permit();

        bool isHeld() const { return m_owner != nullptr; }
        void release();

    private:
        friend class FetchPermits;
        explicit Permit(FetchPermits *owner)
            : m_owner(owner)
        { }
        FetchPermits *m_owner = nullptr;
    };

    class Acquire
    {
    public:
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> handle);
        Permit await_resume() noexcept { return Permit(m_owner); }

    private:
        friend class FetchPermits;
        explicit Acquire(FetchPermits *owner)
            : m_owner(owner)
        { }
        FetchPermits *m_owner;
    };

    explicit FetchPermits(int count);
    FetchPermits(const FetchPermits &) = delete;
    FetchPermits &operator=(const FetchPermits &) = delete;

    // The process-wide permits of the metadata fetcher; never destroyed.
    static FetchPermits &shared();

    // co_await permits.acquire() yields a Permit.
    Acquire acquire() { return Acquire(this); }

    int available() const;
    int waiting() const;

private:
    struct Waiter
    {
        std::coroutine_handle<> handle;
        QPointer<QObject> context;
    };

    void release();

    mutable QMutex m_mutex;
    int m_available;
    std::deque<Waiter> m_waiters;
};
