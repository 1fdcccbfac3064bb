#include "UpdateDownloader.h"

#include <QCoroNetworkReply>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {
struct Transfer
{
    std::unique_ptr<QFile> file;
    QByteArray body;
    qint64 received = 0;
    qint64 maxBytes = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    bool stalled = false;
    QUrl refusedRedirect;
    // From the response headers; -1 when absent.
    qint64 announced = -1;
};

void drain(QNetworkReply *reply, Transfer &transfer)
{
    if (!reply->isOpen())
        return;
    const QByteArray chunk = reply->readAll();
    if (chunk.isEmpty() || transfer.tooLarge || transfer.writeFailed)
        return;
    if (transfer.received + chunk.size() > transfer.maxBytes) {
        transfer.tooLarge = true;
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        return;
    }
    transfer.received += chunk.size();
    if (transfer.file) {
        if (transfer.file->write(chunk) != chunk.size()) {
            transfer.writeFailed = true;
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    } else {
        transfer.body.append(chunk);
    }
}
} // namespace

void DownloadHandle::cancel()
{
    m_cancelled = true;
    if (m_reply)
        QMetaObject::invokeMethod(m_reply.data(), &QNetworkReply::abort, Qt::QueuedConnection);
}

QCoro::Task<DownloadResult> downloadUpdateFile(
    QNetworkAccessManager *manager, QUrl url, DownloadOptions options, std::shared_ptr<DownloadHandle> handle)
{
    DownloadResult result;
    if (!handle)
        handle = std::make_shared<DownloadHandle>();
    if (!isPermittedUpdateTransport(url)) {
        result.status = DownloadResult::Status::RedirectRefused;
        result.refusedRedirect = url;
        result.error = QStringLiteral("updates are only downloaded over https: ") + url.toString();
        co_return result;
    }
    auto transfer = std::make_shared<Transfer>();
    transfer->maxBytes = options.maxBytes;
    if (!options.destinationPath.isEmpty()) {
        transfer->file = std::make_unique<QFile>(options.destinationPath);
        if (!transfer->file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            result.status = DownloadResult::Status::WriteError;
            result.error = transfer->file->errorString();
            co_return result;
        }
    }
    if (handle->isCancelled()) {
        result.status = DownloadResult::Status::Cancelled;
        co_return result;
    }

    QNetworkRequest request(url);
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    // Length checks and signatures are over the bytes as published.
    request.setRawHeader("Accept-Encoding", "identity");
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        manager->get(request), [](QNetworkReply *r) { r->deleteLater(); });
    QNetworkReply *raw = reply.get();
    handle->m_reply = raw;
    raw->setReadBufferSize(512 * 1024);

    auto *stall = new QTimer(raw);
    stall->setSingleShot(true);
    QObject::connect(stall, &QTimer::timeout, raw, [raw, transfer] {
        transfer->stalled = true;
        raw->abort();
    });
    stall->start(options.stallTimeout);

    auto redirectAllowed = options.redirectAllowed;
    QObject::connect(
        raw, &QNetworkReply::redirected, raw, [raw, transfer, redirectAllowed](const QUrl &target) {
            if (isPermittedUpdateTransport(target) && (!redirectAllowed || redirectAllowed(target))) {
                Q_EMIT raw->redirectAllowed();
            } else {
                transfer->refusedRedirect = target;
                QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
            }
        });
    // A body announced larger than allowed is refused before it arrives.
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, transfer] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        transfer->announced = length.isValid() ? length.toLongLong() : -1;
        if (transfer->announced > transfer->maxBytes && !transfer->tooLarge) {
            transfer->tooLarge = true;
            QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });
    auto progress = options.progress;
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, transfer, stall] {
        stall->start();
        drain(raw, *transfer);
    });
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [progress](qint64 received, qint64 total) {
        if (progress)
            progress(received, total);
    });

    auto finished = qCoro(raw).waitForFinished();
    co_await finished;
    stall->stop();
    drain(raw, *transfer);
    if (transfer->file)
        transfer->file->close();

    result.received = transfer->received;
    result.limit = options.maxBytes;
    result.announced = transfer->announced;
    result.httpStatus = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool httpFailure = result.httpStatus != 0 && result.httpStatus != 200;
    if (handle->isCancelled()) {
        result.status = DownloadResult::Status::Cancelled;
        result.error = QStringLiteral("the download was cancelled");
    } else if (!transfer->refusedRedirect.isEmpty()) {
        result.status = DownloadResult::Status::RedirectRefused;
        result.refusedRedirect = transfer->refusedRedirect;
        result.error = QStringLiteral("redirect to an address that is not allowed: ")
            + transfer->refusedRedirect.toString();
    } else if (transfer->tooLarge) {
        result.status = DownloadResult::Status::TooLarge;
        result.error
            = QStringLiteral("the server sent more than the expected %1 bytes").arg(options.maxBytes);
    } else if (transfer->writeFailed) {
        result.status = DownloadResult::Status::WriteError;
        result.error = transfer->file ? transfer->file->errorString() : QString();
    } else if (transfer->stalled) {
        result.status = DownloadResult::Status::NetworkError;
        result.error = QStringLiteral("the connection stalled and timed out");
    } else if (httpFailure) {
        result.status = DownloadResult::Status::HttpError;
        result.error = QStringLiteral("the server answered with HTTP status %1").arg(result.httpStatus);
    } else if (raw->error() != QNetworkReply::NoError) {
        // Also after a 200: the connection broke before the body was complete.
        result.status = DownloadResult::Status::NetworkError;
        result.error = raw->errorString();
    } else if (result.httpStatus != 200) {
        result.status = DownloadResult::Status::NetworkError;
        result.error = QStringLiteral("the server sent no HTTP status");
    } else if (transfer->announced >= 0 && transfer->received < transfer->announced) {
        result.status = DownloadResult::Status::NetworkError;
        result.error = QStringLiteral("the transfer ended after %1 of %2 bytes")
                           .arg(transfer->received)
                           .arg(transfer->announced);
    } else {
        result.status = DownloadResult::Status::Finished;
        result.body = std::move(transfer->body);
    }
    co_return result;
}
