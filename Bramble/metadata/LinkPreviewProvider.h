#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <optional>

class QNetworkAccessManager;

struct LinkPreview
{
    std::optional<QString> title;
    // The icon file as downloaded; only bytes that decode as an image.
    std::optional<QByteArray> iconData;
};

struct LinkPreviewResult
{
    bool ok = false;
    QString error; // when !ok
    // It failed because its own time-out ran out.
    bool timedOut = false;
    LinkPreview preview;
};

// Reads a page's title and icon the way a browser's link preview would: one GET of the page,
// its head parsed off the main thread, the best declared icon downloaded (or, when that is no
// usable image, the next declared ones). A transport error or a status of 400 or more fails it.
class LinkPreviewProvider
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 10000 };
    static constexpr qint64 maxPageBytes = 2 * 1024 * 1024;
    static constexpr qint64 maxIconBytes = 1024 * 1024;
    // Declared icons downloaded at most: the best one and three more.
    static constexpr int maxIconCandidates = 4;

    explicit LinkPreviewProvider(QNetworkAccessManager *manager = nullptr);

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // The whole fetch, icon included, finishes within the time-out. The provider object may go
    // away once this has been called: the fetch keeps copies of what it needs.
    QCoro::Task<LinkPreviewResult> fetch(const QUrl &url) const;

    // Whether the bytes decode as an image. Decoding can be slow: keep it off the main thread.
    static bool isImage(const QByteArray &bytes);
    // The same, on a page worker.
    static QCoro::Task<bool> isImageOffThread(QByteArray bytes);

private:
    QNetworkAccessManager *m_manager;
    std::chrono::milliseconds m_timeout = defaultTimeout;
};
