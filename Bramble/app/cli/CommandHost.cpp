#include "app/cli/CommandHost.h"

#include "app/LibraryRequests.h"
#include "app/SingleInstance.h"
#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContext.h"

#include <QCoroSignal>
#include <QTimer>

namespace {
// Long enough for the last save of the link in hand, should another program hold the file.
constexpr std::chrono::seconds savePatience { 10 };

InstanceProtocol::Message handingOn()
{
    return InstanceProtocol::failure(
        QStringLiteral("The bramble command holding the library is handing it on."), true);
}
} // namespace

CommandHost::Busy::Busy(CommandHost *host)
    : m_host(host)
{
    ++m_host->m_busy;
}

CommandHost::Busy::~Busy()
{
    if (m_host && --m_host->m_busy == 0)
        Q_EMIT m_host->changed();
}

CommandHost::CommandHost(
    SingleInstance *instance, ModelContext *context, DataExchange *exchange, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_exchange(exchange)
{
    using Message = InstanceProtocol::Message;
    connect(exchange, &DataExchange::metadataRefreshFinished, this, &CommandHost::changed);
    instance->setHandler(QLatin1String(InstanceProtocol::activate), [](Message) -> QCoro::Task<Message> {
        Message answer = InstanceProtocol::success();
        answer["host"] = InstanceProtocol::commandHost;
        co_return answer;
    });
    instance->setHandler(QLatin1String(InstanceProtocol::release), [this](Message) { return release(); });
    instance->setHandler(
        QLatin1String(InstanceProtocol::add), [this](Message request) -> QCoro::Task<Message> {
            if (refusesWork())
                co_return handingOn();
            Message answer = LibraryRequests::add(m_context, request, [this](BookmarkItem *link) {
                // Fetched in turn with the command's own links, and handed on with them.
                m_exchange->enqueueRefresh({ { link, DataExchange::RefreshMode::Overwrite } });
            });
            answer["host"] = InstanceProtocol::commandHost;
            co_return answer;
        });
    instance->setHandler(
        QLatin1String(InstanceProtocol::refresh), [this](Message request) -> QCoro::Task<Message> {
            if (refusesWork())
                co_return handingOn();
            Message answer = LibraryRequests::refresh(m_exchange, m_context, request);
            answer["host"] = InstanceProtocol::commandHost;
            co_return answer;
        });
    instance->setHandler(
        QLatin1String(InstanceProtocol::import), [this](Message request) -> QCoro::Task<Message> {
            if (refusesWork())
                co_return handingOn();
            Busy busy(this);
            QCoro::Task<Message> importing = LibraryRequests::import(m_exchange, std::move(request));
            Message answer = co_await importing;
            answer["host"] = InstanceProtocol::commandHost;
            co_return answer;
        });
}

bool CommandHost::isIdle() const
{
    // Links left waiting by a stopped refresh stay on the store's queue for whoever is next.
    return m_busy == 0 && !m_exchange->isRefreshingMetadata();
}

QCoro::Task<> CommandHost::finish()
{
    QPointer<CommandHost> self(this);
    // A release under way ends in the hand-over, even when the queue is empty already.
    while (self && !m_handedOver && (m_releasing || !isIdle()))
        co_await qCoro(this, &CommandHost::changed);
    if (self)
        m_closing = true;
}

QCoro::Task<InstanceProtocol::Message> CommandHost::release()
{
    QPointer<CommandHost> self(this);
    if (refusesWork())
        co_return handingOn();
    m_releasing = true;
    // The link in hand is finished; those that wait go to the window.
    while (self && m_busy > 0)
        co_await qCoro(this, &CommandHost::changed);
    if (!self)
        co_return handingOn();
    const QList<DataExchange::RefreshTarget> pending = m_exchange->takePendingRefresh();
    if (m_exchange->isRefreshingMetadata())
        co_await qCoro(m_exchange, &DataExchange::metadataRefreshFinished);
    if (!self)
        co_return handingOn();
    QString error;
    if (!m_context->saveWaiting(savePatience, &error)) {
        // Keep the library rather than hand over what is not on disk.
        m_exchange->enqueueRefresh(pending);
        m_releasing = false;
        QTimer::singleShot(0, this, &CommandHost::changed);
        co_return InstanceProtocol::failure(QStringLiteral("Could not save the library: ") + error, true);
    }
    InstanceProtocol::Message answer = InstanceProtocol::success();
    answer["pending"] = LibraryRequests::pendingToMessage(pending);
    m_handedOver = true;
    m_handedOverLinks = int(pending.size());
    // The answer is written when this returns; the command lets go after that.
    QTimer::singleShot(0, this, &CommandHost::changed);
    co_return answer;
}
