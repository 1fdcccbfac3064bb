#include "Cairn/SerialQueue.h"
#include "Cairn/ThreadAnnotations.h"

namespace Cairn {

SerialQueue::SerialQueue(const QString &label)
{
    m_pool.setObjectName(label);
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(30000);
}

SerialQueue::~SerialQueue()
{
    waitForDone();
}

void SerialQueue::async(std::function<void()> job)
{
    // QThreadPool runs jobs of equal priority first in, first out; with one thread that is
    // submission order.
    Sync::publish(this);
    m_pool.start([this, job = std::move(job)] {
        Sync::receive(this);
        job();
        Sync::publish(this);
    });
}

void SerialQueue::waitForDone()
{
    m_pool.waitForDone();
    Sync::receive(this);
}

} // namespace Cairn
