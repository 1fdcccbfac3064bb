#include "MetadataFetcher.h"

#include "FetchPermits.h"
#include "HttpGet.h"
#include "LinkPreviewProvider.h"
#include "MetadataCache.h"
#include "PageWork.h"
#include "platform/Console.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {
QMutex g_optionsMutex;
MetadataFetcher::Options g_options;

const char *const iconPaths[]
    = { "/favicon.ico", "/apple-touch-icon.png", "/apple-touch-icon-precomposed.png", "/favicon.png" };

const char *const descriptionPatterns[] = { R"re(<meta\s+name="description"\s+content="([^"]+)")re",
    R"re(<meta\s+property="og:description"\s+content="([^"]+)")re" };

// Tells the race that one side has finished.
class RaceSignal : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void settled();
};

struct RaceState
{
    bool providerDone = false;
    bool timerFired = false;
    LinkPreviewResult provider;
};

enum class RaceOutcome { ProviderSucceeded, ProviderFailed, TimedOut };

QCoro::Task<> runProvider(QNetworkAccessManager *manager, QUrl url, std::chrono::milliseconds timeout,
    std::shared_ptr<RaceState> state, RaceSignal *signal)
{
    LinkPreviewProvider provider(manager);
    provider.setTimeout(timeout);
    state->provider = co_await provider.fetch(url);
    state->providerDone = true;
    Q_EMIT signal->settled();
}

// The link preview against a timer. When the timer wins the preview is not interrupted: the race
// ends once it has returned too, and its late answer is dropped.
QCoro::Task<RaceOutcome> race(QNetworkAccessManager *manager, QUrl url, MetadataFetcher::Options options,
    std::shared_ptr<RaceState> state)
{
    RaceSignal signal;
    // The timer starts first and is precise, so the preview's own deadline, when it is no
    // shorter, cannot come before it.
    const QDeadlineTimer raceDeadline(options.raceTimeout, Qt::PreciseTimer);
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &signal, [state, &signal] {
        state->timerFired = true;
        Q_EMIT signal.settled();
    });
    timer.start(options.raceTimeout);
    QCoro::Task<> provider = runProvider(manager, url, options.providerTimeout, state, &signal);
    if (!state->providerDone)
        co_await qCoro(&signal, &RaceSignal::settled);
    timer.stop();
    // Both can be due in the same turn of the event loop; the timer wins that tie.
    const bool providerFailedLate = !state->provider.ok
        && (raceDeadline.hasExpired()
            || (state->provider.timedOut && options.providerTimeout >= options.raceTimeout));
    const bool providerFirst = state->providerDone && !state->timerFired && !providerFailedLate;
    co_await provider;
    if (!providerFirst)
        co_return RaceOutcome::TimedOut;
    co_return state->provider.ok ? RaceOutcome::ProviderSucceeded : RaceOutcome::ProviderFailed;
}

QCoro::Task<std::optional<QByteArray>> probeIcon(
    QNetworkAccessManager *manager, QUrl address, std::chrono::milliseconds timeout)
{
    // Built from its parts, so that an IPv6 host keeps its brackets. The port stays: a site
    // served on another port keeps its icons there too.
    QUrl root;
    root.setScheme(address.scheme().isEmpty() ? QStringLiteral("https") : address.scheme());
    root.setHost(address.host(QUrl::FullyDecoded));
    if (address.port() != -1)
        root.setPort(address.port());
    if (!root.isValid())
        co_return std::nullopt;
    HttpGetOptions options;
    options.timeout = timeout;
    options.maxBytes = MetadataFetcher::maxIconBytes;
    for (const char *path : iconPaths) {
        const QUrl candidate = root.resolved(QUrl(QString::fromLatin1(path)));
        if (!candidate.isValid())
            continue;
        const HttpGetResult reply = co_await httpGet(manager, candidate, options);
        // Past the size limit counts as not an image.
        if (reply.received && reply.status == 200 && !reply.truncated && !reply.body.isEmpty()
            && co_await LinkPreviewProvider::isImageOffThread(reply.body))
            co_return reply.body;
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> scrapeDescription(
    QNetworkAccessManager *manager, QUrl address, std::chrono::milliseconds timeout)
{
    HttpGetOptions options;
    options.timeout = timeout;
    options.maxBytes = MetadataFetcher::maxPageBytes;
    const HttpGetResult reply = co_await httpGet(manager, address, options);
    if (!reply.received) {
        Console::printLine(QStringLiteral("Failed to fetch HTML: ") + reply.error);
        co_return std::nullopt;
    }
    // A page cut at the limit must not fail to decode just because the cut split a character.
    const QByteArray body = reply.truncated ? cutToCompleteUtf8(reply.body) : reply.body;
    QFuture<std::optional<QString>> scanning
        = PageWork::run([body] { return MetadataFetcher::pageDescription(body); });
    co_return co_await scanning;
}

std::optional<QString> hostOf(const QUrl &url)
{
    const QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty())
        return std::nullopt;
    // An IPv6 address is only an address in its brackets.
    if (host.contains(QLatin1Char(':')))
        return QLatin1Char('[') + host + QLatin1Char(']');
    return host;
}

void remember(const QString &key, const LinkMetadata &metadata)
{
    MetadataCache &cache = MetadataCache::shared();
    cache.store(key,
        CachedMetadata {
            metadata.title, metadata.summary, metadata.iconData, cache.now(), metadata.summaryFromPage });
}

QCoro::Task<LinkMetadata> fetch(QString urlString)
{
    if (const auto cached = MetadataCache::shared().lookup(urlString))
        co_return LinkMetadata { cached->title, cached->summary, cached->iconData, cached->summaryFromPage };

    const MetadataFetcher::Options options = MetadataFetcher::options();
    FetchPermits::Permit permit = co_await FetchPermits::shared().acquire();

    const QUrl url(urlString, QUrl::TolerantMode);
    if (urlString.trimmed().isEmpty() || !url.isValid())
        co_return LinkMetadata {};
    // Any other scheme could make us read local files or worse; an address with no scheme at
    // all still takes the normal path, which cannot reach a host.
    if (!url.scheme().isEmpty() && !MetadataNetwork::isFetchableScheme(url))
        co_return LinkMetadata {};

    QNetworkAccessManager *manager = MetadataNetwork::manager();
    auto state = std::make_shared<RaceState>();
    const RaceOutcome outcome = co_await race(manager, url, options, state);

    LinkMetadata metadata;
    if (outcome == RaceOutcome::ProviderFailed) {
        Console::printLine(QStringLiteral("Bramble Error: Failed to fetch metadata for ") + urlString
            + QStringLiteral(". Error: ") + state->provider.error);
        const auto description = co_await scrapeDescription(manager, url, options.pageTimeout);
        metadata.summary = description ? description : hostOf(url);
        metadata.summaryFromPage = description.has_value();
        remember(urlString, metadata);
        co_return metadata;
    }

    if (outcome == RaceOutcome::ProviderSucceeded) {
        metadata.title = state->provider.preview.title;
        metadata.iconData = state->provider.preview.iconData;
    }
    if (!metadata.iconData)
        metadata.iconData = co_await probeIcon(manager, url, options.iconProbeTimeout);
    const auto description = co_await scrapeDescription(manager, url, options.pageTimeout);
    metadata.summary = description ? description : hostOf(url);
    metadata.summaryFromPage = description.has_value();
    remember(urlString, metadata);
    co_return metadata;
}
} // namespace

QCoro::Task<LinkMetadata> MetadataFetcher::fetchMetadata(const QString &urlString)
{
    // The coroutine takes its own copy: the caller's text may be gone before the fetch ends.
    return fetch(urlString);
}

std::optional<QString> MetadataFetcher::pageDescription(QByteArrayView body)
{
    PageWork::recordDescriptionScan(body.size(), PageWork::onMainThread());
    // Stateless: a sequence left open at the end is an error too, not pending input.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString page = decoder.decode(body);
    if (decoder.hasError())
        return std::nullopt;
    // Compiled once; a pattern that failed to compile is skipped. Neither pattern backtracks:
    // each repeat is followed by a character it cannot match, so the search stays linear.
    static const QList<QRegularExpression> patterns = [] {
        QList<QRegularExpression> compiled;
        for (const char *source : descriptionPatterns) {
            QRegularExpression pattern(
                QString::fromLatin1(source), QRegularExpression::CaseInsensitiveOption);
            if (pattern.isValid())
                compiled.append(pattern);
        }
        return compiled;
    }();
    for (const QRegularExpression &pattern : patterns) {
        const auto match = pattern.match(page);
        if (match.hasMatch() && match.capturedStart(1) >= 0)
            return match.captured(1);
    }
    return std::nullopt;
}

MetadataFetcher::Options MetadataFetcher::options()
{
    QMutexLocker locker(&g_optionsMutex);
    return g_options;
}

void MetadataFetcher::setOptions(const Options &options)
{
    QMutexLocker locker(&g_optionsMutex);
    g_options = options;
}

#include "MetadataFetcher.moc"
