#pragma once

#include "UpdateTransport.h"

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

struct DownloadOptions
{
    // Write into this file; when empty the body is kept in memory.
    QString destinationPath;
    // Receiving more than this many bytes aborts the transfer.
    qint64 maxBytes = 4 * 1024 * 1024;
    // No data for this long aborts the transfer.
    std::chrono::milliseconds stallTimeout { 60000 };
    // Every redirect target must pass this (and the transport rule) or the transfer stops.
    std::function<bool(const QUrl &)> redirectAllowed;
    std::function<void(qint64 received, qint64 total)> progress;
};

struct DownloadResult
{
    enum class Status { Finished, Cancelled, NetworkError, HttpError, RedirectRefused, TooLarge, WriteError };
    Status status = Status::NetworkError;
    QString error;
    int httpStatus = 0;
    qint64 received = 0;
    // The maxBytes the transfer was held to.
    qint64 limit = 0;
    // The response's Content-Length; -1 when it sent none.
    qint64 announced = -1;
    QByteArray body;
    QUrl refusedRedirect;

    bool ok() const { return status == Status::Finished; }
};

// Lets the owner of a transfer cancel it.
class DownloadHandle
{
public:
    void cancel();
    bool isCancelled() const { return m_cancelled; }

private:
    friend QCoro::Task<DownloadResult> downloadUpdateFile(
        QNetworkAccessManager *, QUrl, DownloadOptions, std::shared_ptr<DownloadHandle>);
    bool m_cancelled = false;
    QPointer<QNetworkReply> m_reply;
};

// GET with progress, never blocking; failures come back as values. A transfer that ends
// before the announced Content-Length, or with a connection error after the headers, is a
// network error, whatever status it began with.
QCoro::Task<DownloadResult> downloadUpdateFile(QNetworkAccessManager *manager, QUrl url,
    DownloadOptions options, std::shared_ptr<DownloadHandle> handle = {});
