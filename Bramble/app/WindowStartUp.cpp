#include "app/WindowStartUp.h"

#include "app/InstanceClient.h"
#include "app/SingleInstance.h"
#include "platform/Console.h"
#include "ui/StoreWaitView.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>

namespace {
constexpr std::chrono::milliseconds connectTimeout { 1000 };
constexpr std::chrono::milliseconds activateTimeout { 5000 };
constexpr std::chrono::milliseconds retryPause { 200 };
// A holder that has just taken the lock needs a moment to listen; no need to show a window
// for that.
constexpr qint64 quietWaitMs = 1000;
} // namespace

WindowStartUp::WindowStartUp(SingleInstance *instance, QObject *parent)
    : QObject(parent)
    , m_instance(instance)
{ }

WindowStartUp::~WindowStartUp() = default;

void WindowStartUp::showWaiting(int reason)
{
    const auto why = StoreWaitView::Reason(reason);
    if (!m_waitView) {
        m_waitView = std::make_unique<StoreWaitView>();
        connect(m_waitView.get(), &StoreWaitView::quitRequested, this, [this] {
            m_cancelled = true;
            Q_EMIT cancelled();
        });
    }
    m_waitView->setReason(why);
    m_waitView->show();
    if (m_announced != reason) {
        m_announced = reason;
        Console::printLine(why == StoreWaitView::Reason::CommandHandingOver
                ? QStringLiteral("Waiting for the library: a bramble command is finishing the link it is on.")
                : QStringLiteral(
                    "Waiting for the library: another Bramble process holds it and does not answer."));
    }
}

void WindowStartUp::closeWaitView()
{
    m_waitView.reset();
}

QCoro::Task<WindowStartUp::Result> WindowStartUp::run()
{
    QPointer<WindowStartUp> self(this);
    const QString server = SingleInstance::serverName(m_instance->storePath());
    QElapsedTimer waiting;
    waiting.start();
    bool releaseAsked = false;
    for (;;) {
        if (!self || m_cancelled)
            co_return Result::Cancelled;
        switch (m_instance->acquire()) {
        case SingleInstance::Role::Primary:
            co_return Result::Acquired;
        case SingleInstance::Role::Unavailable:
            co_return Result::LockUnavailable;
        case SingleInstance::Role::Secondary:
            break;
        }
        QCoro::Task<InstanceClient::Reply> asking = InstanceClient::send(
            server, InstanceProtocol::request(InstanceProtocol::activate), connectTimeout, activateTimeout);
        const InstanceClient::Reply reply = co_await asking;
        if (!self || m_cancelled)
            co_return Result::Cancelled;
        const bool answered
            = reply.outcome == InstanceClient::Outcome::Answered && InstanceProtocol::isOk(reply.answer);
        const QString host = answered ? InstanceProtocol::text(reply.answer, "host") : QString();
        if (host == QLatin1String(InstanceProtocol::windowHost))
            co_return Result::RunningWindowShown;
        if (host == QLatin1String(InstanceProtocol::commandHost)) {
            showWaiting(int(StoreWaitView::Reason::CommandHandingOver));
            if (!releaseAsked) {
                // Answered once the command has saved the link in hand; then it lets go.
                QCoro::Task<InstanceClient::Reply> releasing
                    = InstanceClient::send(server, InstanceProtocol::request(InstanceProtocol::release),
                        connectTimeout, std::chrono::milliseconds(-1));
                const InstanceClient::Reply released = co_await releasing;
                if (!self || m_cancelled)
                    co_return Result::Cancelled;
                if (released.outcome == InstanceClient::Outcome::Answered
                    && InstanceProtocol::isOk(released.answer)) {
                    m_handOver = released.answer;
                    releaseAsked = true;
                }
            }
        } else if (waiting.elapsed() >= quietWaitMs) {
            showWaiting(int(StoreWaitView::Reason::HolderSilent));
        }
        co_await QCoro::sleepFor(retryPause);
    }
}
