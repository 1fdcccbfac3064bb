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
    LinkPreview preview;
};

// What the head of a page says about itself.
struct PageHead
{
    std::optional<QString> title;
    struct Icon
    {
        QUrl url; // resolved
        int size = 0; // largest declared edge; SVG and "any" count as very large
    };
    // Candidates, best first.
    QList<Icon> icons;
};

// Reads a page's title and icon the way a browser's link preview would: one GET of the page,
// its head parsed, the best declared icon downloaded. A transport error or a status of 400 or
// more fails it.
class LinkPreviewProvider
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 10000 };
    static constexpr qint64 maxPageBytes = 2 * 1024 * 1024;
    static constexpr qint64 maxIconBytes = 1024 * 1024;

    explicit LinkPreviewProvider(QNetworkAccessManager *manager = nullptr);

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // The whole fetch, icon included, finishes within the time-out. The provider object may go
    // away once this has been called: the fetch keeps copies of what it needs.
    QCoro::Task<LinkPreviewResult> fetch(const QUrl &url) const;

    // Decodes a page by its declared charset: byte-order mark, then the HTTP header, then
    // <meta charset> or http-equiv, else UTF-8.
    static QString decodePage(const QByteArray &body, const QByteArray &contentType);
    // Parses the head of a decoded page; relative icon addresses resolve against baseUrl (or
    // the page's own <base href>).
    static PageHead parseHead(const QString &html, const QUrl &baseUrl);
    // Whether the bytes decode as an image.
    static bool isImage(const QByteArray &bytes);

private:
    QNetworkAccessManager *m_manager;
    std::chrono::milliseconds m_timeout = defaultTimeout;
};
