#pragma once

#include "app/InstanceProtocol.h"

#include <QCoroTask>
#include <QObject>
#include <memory>

class SingleInstance;
class StoreWaitView;

// Takes the library for a starting window. When another process holds it: a running window
// is asked to come to the front (and this launch is not needed); a bramble command is asked to
// hand the library over; one that does not answer is waited for. While it waits, a small
// window says why; the start never ends without a window unless the user gives up.
class WindowStartUp : public QObject
{
    Q_OBJECT

public:
    enum class Result {
        Acquired,
        // No lock can be made at all; opening the store reports the real problem.
        LockUnavailable,
        // Another window holds the library and came to the front.
        RunningWindowShown,
        // The user gave up waiting.
        Cancelled,
    };

    explicit WindowStartUp(SingleInstance *instance, QObject *parent = nullptr);
    ~WindowStartUp() override;

    QCoro::Task<Result> run();
    // The answer of the command that handed the library over: the links it left waiting.
    const InstanceProtocol::Message &handOver() const { return m_handOver; }
    // While waiting; null otherwise.
    StoreWaitView *waitView() const { return m_waitView.get(); }
    // Closes the wait view once the real window is up.
    void closeWaitView();

Q_SIGNALS:
    void cancelled();

private:
    void showWaiting(int reason);

    SingleInstance *m_instance;
    std::unique_ptr<StoreWaitView> m_waitView;
    InstanceProtocol::Message m_handOver = InstanceProtocol::Message::object();
    bool m_cancelled = false;
    int m_announced = -1;
};
