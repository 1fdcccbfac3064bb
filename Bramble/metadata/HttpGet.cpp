#include "HttpGet.h"

#include "ContentDecoder.h"

#include <QCoroNetworkReply>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <memory>

namespace {
QMutex g_factoryMutex;
MetadataNetwork::Factory g_factory;

QNetworkAccessManager *defaultManager()
{
    thread_local QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager;
        QThread *thread = QThread::currentThread();
        QObject::connect(thread, &QThread::finished, manager.data(), &QObject::deleteLater);
    }
    return manager;
}

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        if (reply)
            reply->deleteLater();
    }
};

struct Transfer
{
    QByteArray body;
    qint64 maxBytes = 0;
    bool truncated = false;
    bool timedOut = false;
    bool refusedRedirect = false;
    int redirects = 0;
    bool tooManyRedirects = false;
    // Set once the first body bytes show how the body is coded.
    bool codingKnown = false;
    bool broken = false;
    std::unique_ptr<ContentDecoder> decoder;
    qint64 codedBytes = 0;
};

// Errors that still come with a complete HTTP response (4xx and 5xx statuses).
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return error == QNetworkReply::NoError || (code >= 201 && code <= 299) || code == 302
        || (code >= 401 && code <= 499);
}

void stop(QNetworkReply *reply)
{
    // Aborting from the event loop keeps the awaiting coroutine off this signal's stack.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

void drain(QNetworkReply *reply, Transfer &transfer)
{
    if (!reply->isOpen())
        return;
    const QByteArray chunk = reply->readAll();
    if (transfer.truncated || chunk.isEmpty())
        return;
    if (!transfer.codingKnown) {
        transfer.codingKnown = true;
        transfer.decoder = ContentDecoder::forEncoding(reply->rawHeader("Content-Encoding"));
    }
    const qint64 room = transfer.maxBytes - transfer.body.size();
    if (transfer.decoder) {
        // The coded bytes are bounded too, so that a body inflating to almost nothing is not
        // read for ever; no real body codes to twice its size.
        transfer.codedBytes += chunk.size();
        const ContentDecoder::Status status = transfer.decoder->feed(chunk, transfer.body, room);
        if (status == ContentDecoder::Status::Full || transfer.codedBytes > 2 * transfer.maxBytes) {
            transfer.truncated = true;
            stop(reply);
        } else if (status == ContentDecoder::Status::Broken) {
            transfer.broken = true;
            stop(reply); // what came before the damage is kept
        }
        return;
    }
    if (chunk.size() > room) {
        transfer.body.append(chunk.left(room));
        transfer.truncated = true;
        stop(reply);
        return;
    }
    transfer.body.append(chunk);
}
} // namespace

QNetworkAccessManager *MetadataNetwork::manager()
{
    Factory factory;
    {
        QMutexLocker locker(&g_factoryMutex);
        factory = g_factory;
    }
    if (factory) {
        if (QNetworkAccessManager *manager = factory())
            return manager;
    }
    return defaultManager();
}

void MetadataNetwork::setFactory(Factory factory)
{
    QMutexLocker locker(&g_factoryMutex);
    g_factory = std::move(factory);
}

bool MetadataNetwork::isFetchableScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QCoro::Task<HttpGetResult> httpGet(QNetworkAccessManager *manager, QUrl url, HttpGetOptions options)
{
    HttpGetResult result;
    result.finalUrl = url;
    if (!url.isValid() || !MetadataNetwork::isFetchableScheme(url) || url.host().isEmpty()) {
        result.error = QStringLiteral("unsupported URL");
        co_return result;
    }
    if (!manager) {
        result.error = QStringLiteral("no network access");
        co_return result;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(options.maxRedirects);
    // Asking for the codings ourselves keeps Qt from inflating the body itself: it refuses a
    // reply that inflates far (delivering none of it, the title in its first bytes included)
    // and knows nothing of our limit. drain() inflates up to the limit instead.
    request.setRawHeader("Accept-Encoding", ContentDecoder::acceptEncoding);
    for (const auto &header : std::as_const(options.headers))
        request.setRawHeader(header.first, header.second);

    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(manager->get(request));
    QNetworkReply *raw = reply.get();
    raw->setReadBufferSize(256 * 1024);
    auto transfer = std::make_shared<Transfer>();
    transfer->maxBytes = options.maxBytes;

    // Qt follows the redirect itself (answering redirectAllowed by hand is unreliable in Qt 6.4);
    // this only stops one that leaves http and https or goes on too long.
    const int maxRedirects = options.maxRedirects;
    QObject::connect(raw, &QNetworkReply::redirected, raw, [raw, transfer, maxRedirects](const QUrl &target) {
        if (++transfer->redirects > maxRedirects) {
            transfer->tooManyRedirects = true;
            QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
        } else if (!MetadataNetwork::isFetchableScheme(target) || target.host().isEmpty()) {
            transfer->refusedRedirect = true;
            QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, transfer] { drain(raw, *transfer); });
    // Parented to the reply so that it dies with it, never under its own signal.
    auto *deadline = new QTimer(raw);
    deadline->setSingleShot(true);
    // Precise: a coarse timer may fire up to 5 % early, before a deadline that races this one.
    deadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadline, &QTimer::timeout, raw, [raw, transfer] {
        transfer->timedOut = true;
        raw->abort();
    });
    deadline->start(options.timeout);

    co_await qCoro(raw).waitForFinished();
    deadline->stop();
    drain(raw, *transfer);

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.finalUrl = raw->url();
    result.status = status.isValid() ? status.toInt() : 0;
    result.contentType = raw->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (transfer->tooManyRedirects || raw->error() == QNetworkReply::TooManyRedirectsError) {
        result.error = QStringLiteral("too many HTTP redirects");
    } else if (transfer->refusedRedirect) {
        result.error = QStringLiteral("Redirect to an address that is not http or https was refused");
    } else if (transfer->timedOut && !transfer->truncated) {
        result.error = QStringLiteral("The request timed out.");
        result.timedOut = true;
    } else if (transfer->truncated || transfer->broken) {
        result.received = status.isValid();
    } else if (status.isValid() && isHttpStatusError(raw->error())) {
        result.received = true;
    } else {
        result.error = raw->errorString();
    }
    if (!result.received) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("No response");
        co_return result;
    }
    result.body = std::move(transfer->body);
    result.truncated = transfer->truncated;
    co_return result;
}

QByteArray cutToCompleteUtf8(const QByteArray &bytes)
{
    // Walk back over at most three continuation bytes to the start of the last sequence.
    qsizetype start = bytes.size();
    int continuation = 0;
    while (start > 0 && continuation < 4) {
        const uchar byte = uchar(bytes.at(start - 1));
        if ((byte & 0xC0) != 0x80)
            break;
        --start;
        ++continuation;
    }
    if (start == 0)
        return bytes;
    const uchar lead = uchar(bytes.at(start - 1));
    int length = 1;
    if ((lead & 0xE0) == 0xC0)
        length = 2;
    else if ((lead & 0xF0) == 0xE0)
        length = 3;
    else if ((lead & 0xF8) == 0xF0)
        length = 4;
    if (length == 1)
        return bytes; // ASCII or a stray byte: nothing to cut
    const qsizetype available = bytes.size() - (start - 1);
    if (available >= length)
        return bytes;
    return bytes.left(start - 1);
}
