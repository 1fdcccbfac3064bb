#pragma once

#include <QString>
#include <QThreadPool>

#include <functional>

namespace Cairn {

// A serial worker: jobs run one at a time on one background thread, in submission order.
class SerialQueue
{
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    void async(std::function<void()> job);
    // Blocks until every job submitted so far has run.
    void waitForDone();
    QString label() const { return m_pool.objectName(); }

private:
    QThreadPool m_pool;
};

} // namespace Cairn
