#include "Cairn/SignalSender.h"

#include "Cairn/Clock.h"
#include "Cairn/TelemetryError.h"
#include "Cairn/ThreadAnnotations.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>

namespace Cairn {

std::optional<LogHandler> SignalManagerShared::logHandler() const
{
    if (previewMode)
        return std::nullopt;
    return configuration->logHandler();
}

void SignalManagerShared::log(LogLevel level, const QString &message) const
{
    if (const auto handler = logHandler())
        handler->log(level, message);
}

void SignalManagerShared::ensureCacheLoaded()
{
    if (!configuration->isInactive())
        cache->load();
}

// ---------------------------------------------------------------------------------------------

std::chrono::milliseconds SignalSender::backoff(std::chrono::milliseconds interval, int failures)
{
    std::chrono::milliseconds wait = interval;
    for (int i = 1; i < failures && wait < maximumBackoff; ++i)
        wait *= 2;
    return std::max(interval, std::min(wait, maximumBackoff));
}

bool SignalSender::refusesRecords(int status)
{
    if (status < 400 || status > 499)
        return false;
    switch (status) {
    case 401: // the client's credentials
    case 403:
    case 404: // the address, not the records
    case 405:
    case 408: // passing trouble
    case 429:
        return false;
    default:
        return true;
    }
}

SignalSender::SignalSender(std::shared_ptr<SignalManagerShared> shared)
    : m_shared(std::move(shared))
{ }

SignalSender::~SignalSender()
{
    // Replies that will never be read: their records wait for the next sender.
    for (const quint64 id : m_mine)
        m_shared->cache->putBack(id);
    Sync::publish(m_shared.get());
}

void SignalSender::start(std::chrono::milliseconds interval)
{
    m_interval = std::max(interval, std::chrono::milliseconds(1));
    // One QNetworkAccessManager for this thread, created on it.
    m_network = new QNetworkAccessManager(this);
    m_network->setAutoDeleteReplies(true);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &SignalSender::checkSchedule);
    m_shared->ensureCacheLoaded();
    m_dueAt = Clock::nowMSecs() + m_interval.count();
    sendPendingSignals();
    arm();
}

void SignalSender::arm()
{
    if (!m_timer)
        return;
    const qint64 wait = std::max<qint64>(0, m_dueAt - Clock::nowMSecs());
    m_timer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void SignalSender::checkSchedule()
{
    if (!m_timer)
        return; // not started yet
    const qint64 now = Clock::nowMSecs();
    // If the wall clock went back, no wait is longer than the current one.
    m_dueAt = std::min(m_dueAt, now + backoff(m_interval, m_failures).count());
    if (now >= m_dueAt) {
        m_dueAt = now + m_interval.count();
        sendPendingSignals();
    }
    arm();
}

void SignalSender::sendNowUnlessBackingOff()
{
    ++m_shared->immediateRounds;
    if (m_failures > 0 && Clock::nowMSecs() < m_dueAt)
        return;
    sendPendingSignals();
}

void SignalSender::sendPendingSignals()
{
    if (m_shared->terminating || m_shared->configuration->isInactive())
        return; // sends nothing, logs nothing, leaves the cache file alone
    m_shared->ensureCacheLoaded();
    const auto &cache = m_shared->cache;
    m_shared->log(LogLevel::debug, QStringLiteral("Current signal cache count: %1").arg(cache->count()));
    SignalBatch batch;
    const quint64 id = cache->checkOut(&batch);
    if (!id)
        return;
    m_shared->log(LogLevel::info,
        QStringLiteral("Sending %1 signals leaving a cache of %2 signals")
            .arg(batch.size())
            .arg(cache->count()));
    send(id, std::move(batch));
}

void SignalSender::send(quint64 id, SignalBatch batch)
{
    m_mine.insert(id);
    const ConfigurationPtr &config = m_shared->configuration;
    const std::optional<QString> ns = config->apiNamespace();
    const QString path = (ns && !ns->isEmpty()) ? QStringLiteral("/v2/namespace/") + *ns + QStringLiteral("/")
                                                : QStringLiteral("/v2/");
    const QUrl base = config->apiBaseURL();
    QUrl relative;
    relative.setPath(path);
    const QUrl url = base.resolved(relative).adjusted(QUrl::NormalizePathSegments);
    const bool usable = base.isValid() && !base.isRelative() && !base.host().isEmpty() && url.isValid()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
    if (!usable) {
        m_shared->log(LogLevel::error,
            QStringLiteral("Unable to construct signal API URL for namespace ")
                + (ns ? *ns : QStringLiteral("nil")));
        m_shared->log(LogLevel::error, TelemetryError { TelemetryError::Kind::invalidEndpointUrl, 0 }.text());
        m_mine.erase(id);
        failed();
        m_shared->cache->putBack(id);
        return;
    }

    QByteArray body;
    try {
        body = encodeWireBatch(batch);
    } catch (...) {
        m_mine.erase(id);
        m_shared->cache->settle(id); // cannot be written: dropped, there is nothing to retry
        return;
    }
    m_shared->log(LogLevel::debug, QString::fromUtf8(body));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(60000);
    ++m_shared->requestsStarted;
    QNetworkReply *reply = m_network->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, id, reply] { finished(id, reply); });
}

// The schedule is updated before the cache changes, so whoever sees the records come back
// (or go) also sees the back-off they caused.
void SignalSender::finished(quint64 id, QNetworkReply *reply)
{
    m_mine.erase(id);
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    const auto &cache = m_shared->cache;
    // Qt numbers connection, proxy and timeout failures below 200; above are HTTP statuses.
    const bool transportError
        = error != QNetworkReply::NoError && (int(error) < 200 || !statusAttribute.isValid());
    if (transportError) {
        m_shared->log(LogLevel::error, reply->errorString());
        failed();
        cache->putBack(id);
        return;
    }
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const auto failure = TelemetryError::classify(status);
    if (!failure) {
        succeeded();
        cache->settle(id);
        const QByteArray data = reply->readAll();
        if (!data.isEmpty())
            m_shared->log(LogLevel::debug, QString::fromUtf8(data));
        return;
    }
    if (refusesRecords(status)) {
        auto halves = cache->split(id);
        if (!halves.empty()) {
            // One bad record (or too many at once) must not hold back the rest: halve until
            // what is refused is a single record.
            m_shared->log(LogLevel::error, failure->text());
            for (auto &[halfID, records] : halves) {
                if (m_shared->terminating) {
                    cache->putBack(halfID);
                    continue;
                }
                m_shared->log(LogLevel::info,
                    QStringLiteral("Sending %1 signals leaving a cache of %2 signals")
                        .arg(records.size())
                        .arg(cache->count()));
                send(halfID, std::move(records));
            }
            return;
        }
        if (const auto dropped = cache->settle(id)) {
            m_shared->log(LogLevel::error,
                QStringLiteral("Dropped signal '%1' that the service refused: %2")
                    .arg(dropped->empty() ? QString() : dropped->front().type, failure->text()));
        }
        return;
    }
    m_shared->log(LogLevel::error, failure->text());
    failed();
    cache->putBack(id);
}

void SignalSender::failed()
{
    ++m_failures;
    const qint64 wait = backoff(m_interval, m_failures).count();
    m_dueAt = std::max(m_dueAt, Clock::nowMSecs() + wait);
    arm();
}

void SignalSender::succeeded()
{
    if (m_failures == 0)
        return;
    m_failures = 0;
    m_dueAt = std::min(m_dueAt, Clock::nowMSecs() + m_interval.count());
    arm();
}

} // namespace Cairn
