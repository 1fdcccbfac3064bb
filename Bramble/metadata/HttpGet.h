#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

class QNetworkAccessManager;

// The network access of the metadata code. One manager per thread; tests (and the benchmark)
// install their own factory to control proxies and lifetime.
namespace MetadataNetwork {
using Factory = std::function<QNetworkAccessManager *()>;
// The manager for the calling thread.
QNetworkAccessManager *manager();
// Null restores the default (a manager created per thread on first use).
void setFactory(Factory factory);

// Only these are ever requested: no file:, ftp:, data: or custom schemes.
bool isFetchableScheme(const QUrl &url);
} // namespace MetadataNetwork

struct HttpGetOptions
{
    std::chrono::milliseconds timeout { 5000 };
    // Reading stops after this many body bytes.
    qint64 maxBytes = 2 * 1024 * 1024;
    int maxRedirects = 10;
    QList<QPair<QByteArray, QByteArray>> headers;
};

struct HttpGetResult
{
    // A response with a status line arrived, whatever the status.
    bool received = false;
    // Why no response arrived.
    QString error;
    // No response arrived within the time-out.
    bool timedOut = false;
    int status = 0;
    QByteArray body;
    // The body went past maxBytes; body holds its first maxBytes bytes. A gzip or deflate body
    // is inflated, and the limit applies to what it inflates to.
    bool truncated = false;
    // The address after redirects.
    QUrl finalUrl;
    QByteArray contentType;
};

// GET over http or https, following redirects to http or https only, with an overall deadline
// and a bounded body. Never throws.
QCoro::Task<HttpGetResult> httpGet(QNetworkAccessManager *manager, QUrl url, HttpGetOptions options);

// The longest prefix of bytes that does not end inside a UTF-8 sequence.
QByteArray cutToCompleteUtf8(const QByteArray &bytes);
