#include "Cairn/SerialQueue.h"

namespace Cairn {

SerialQueue::SerialQueue(const QString &label)
{
    m_pool.setObjectName(label);
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(30000);
}

SerialQueue::~SerialQueue()
{
    m_pool.waitForDone();
}

void SerialQueue::async(std::function<void()> job)
{
    // QThreadPool runs jobs of equal priority first in, first out; with one thread that is
    // submission order.
    m_pool.start(std::move(job));
}

void SerialQueue::waitForDone()
{
    m_pool.waitForDone();
}

} // namespace Cairn
