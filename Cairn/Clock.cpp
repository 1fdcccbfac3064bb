#include "Cairn/Clock.h"

#include <atomic>
#include <map>
#include <mutex>

namespace Cairn::Clock {
namespace {
    std::atomic<bool> g_fixed { false };
    std::atomic<qint64> g_fixedMSecs { 0 };

    struct Observers
    {
        std::mutex mutex;
        int nextID = 1;
        std::map<int, std::function<void()>> callbacks;
    };

    // Never destroyed: managers held in statics remove their observer during exit.
    Observers &observers()
    {
        static Observers *instance = new Observers;
        return *instance;
    }

    void notify()
    {
        Observers &o = observers();
        std::lock_guard<std::mutex> lock(o.mutex);
        for (const auto &[id, callback] : o.callbacks)
            callback();
    }
} // namespace

qint64 nowMSecs()
{
    if (g_fixed.load(std::memory_order_acquire))
        return g_fixedMSecs.load(std::memory_order_acquire);
    return QDateTime::currentMSecsSinceEpoch();
}

QDateTime now()
{
    return QDateTime::fromMSecsSinceEpoch(nowMSecs(), Qt::UTC);
}

void setFixed(const QDateTime &moment)
{
    g_fixedMSecs.store(moment.toMSecsSinceEpoch(), std::memory_order_release);
    g_fixed.store(true, std::memory_order_release);
    notify();
}

void advance(qint64 milliseconds)
{
    g_fixedMSecs.fetch_add(milliseconds, std::memory_order_acq_rel);
    notify();
}

void useSystem()
{
    g_fixed.store(false, std::memory_order_release);
    notify();
}

bool isFixed()
{
    return g_fixed.load(std::memory_order_acquire);
}

int addObserver(std::function<void()> callback)
{
    Observers &o = observers();
    std::lock_guard<std::mutex> lock(o.mutex);
    const int id = o.nextID++;
    o.callbacks.emplace(id, std::move(callback));
    return id;
}

void removeObserver(int id)
{
    Observers &o = observers();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.callbacks.erase(id);
}

} // namespace Cairn::Clock
