#include "Cairn/Clock.h"

#include <atomic>

namespace Cairn::Clock {
namespace {
    std::atomic<bool> g_fixed { false };
    std::atomic<qint64> g_fixedMSecs { 0 };
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
}

void advance(qint64 milliseconds)
{
    g_fixedMSecs.fetch_add(milliseconds, std::memory_order_acq_rel);
}

void useSystem()
{
    g_fixed.store(false, std::memory_order_release);
}

bool isFixed()
{
    return g_fixed.load(std::memory_order_acquire);
}

} // namespace Cairn::Clock
