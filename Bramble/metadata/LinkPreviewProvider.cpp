#include "LinkPreviewProvider.h"

#include "HttpGet.h"
#include "PageHead.h"
#include "PageWork.h"

#include <QBuffer>
#include <QCoroFuture>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageReader>

namespace {
const QByteArray userAgent = QByteArrayLiteral(
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 Safari/537.36");
const QByteArray acceptPage = QByteArrayLiteral(
    "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8");
const QByteArray acceptImage
    = QByteArrayLiteral("image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8");
const QByteArray acceptLanguage = QByteArrayLiteral("en-US,en;q=0.9");

std::optional<QByteArray> decodeDataUrl(const QUrl &url, qint64 maxBytes)
{
    const QByteArray encoded = url.toEncoded();
    const qsizetype comma = encoded.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    const QByteArray meta = encoded.mid(5, comma - 5).toLower();
    const QByteArray payload = QByteArray::fromPercentEncoding(encoded.mid(comma + 1));
    QByteArray bytes = meta.endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
    if (bytes.isEmpty() || bytes.size() > maxBytes)
        return std::nullopt;
    return bytes;
}

// Downloads one declared icon within what is left of the deadline; absent unless it is an image
// within the size limit.
QCoro::Task<std::optional<QByteArray>> downloadIcon(
    QNetworkAccessManager *manager, QUrl url, QDeadlineTimer deadline)
{
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        const auto bytes = decodeDataUrl(url, LinkPreviewProvider::maxIconBytes);
        if (bytes && co_await LinkPreviewProvider::isImageOffThread(*bytes))
            co_return bytes;
        co_return std::nullopt;
    }
    const auto remaining
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
    if (remaining.count() <= 0)
        co_return std::nullopt;
    HttpGetOptions options;
    options.timeout = remaining;
    options.maxBytes = LinkPreviewProvider::maxIconBytes;
    options.headers = { { "User-Agent", userAgent }, { "Accept", acceptImage } };
    const HttpGetResult icon = co_await httpGet(manager, url, options);
    // An icon past the limit counts as no image at all.
    if (icon.received && icon.status >= 200 && icon.status < 300 && !icon.truncated && !icon.body.isEmpty()
        && co_await LinkPreviewProvider::isImageOffThread(icon.body))
        co_return icon.body;
    co_return std::nullopt;
}

QCoro::Task<LinkPreviewResult> fetchPreview(
    QNetworkAccessManager *manager, QUrl url, std::chrono::milliseconds timeout)
{
    LinkPreviewResult result;
    if (!MetadataNetwork::isFetchableScheme(url)) {
        result.error = QStringLiteral("unsupported URL");
        co_return result;
    }
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);

    HttpGetOptions pageOptions;
    pageOptions.timeout = timeout;
    pageOptions.maxBytes = LinkPreviewProvider::maxPageBytes;
    pageOptions.headers
        = { { "User-Agent", userAgent }, { "Accept", acceptPage }, { "Accept-Language", acceptLanguage } };
    const HttpGetResult page = co_await httpGet(manager, url, pageOptions);
    if (!page.received) {
        result.error = page.error;
        result.timedOut = page.timedOut;
        co_return result;
    }
    if (page.status >= 400) {
        result.error = QStringLiteral("The server answered with HTTP status %1.").arg(page.status);
        co_return result;
    }

    const QByteArray body = page.truncated ? cutToCompleteUtf8(page.body) : page.body;
    const QByteArray contentType = page.contentType;
    const QUrl base = page.finalUrl;
    // A named future: g++ 12 destroys temporaries of a co_await expression twice.
    QFuture<PageHead> parsing
        = PageWork::run([body, contentType, base] { return PageHead::parse(body, contentType, base); });
    const PageHead head = co_await parsing;
    result.ok = true;
    result.preview.title = head.title;

    // The best declared icon can be missing or broken; the next ones often are not.
    QList<QUrl> tried;
    for (const PageHead::Icon &candidate : head.icons) {
        if (tried.size() == LinkPreviewProvider::maxIconCandidates || deadline.hasExpired())
            break;
        if (tried.contains(candidate.url))
            continue;
        tried.append(candidate.url);
        if (auto icon = co_await downloadIcon(manager, candidate.url, deadline)) {
            result.preview.iconData = std::move(icon);
            break;
        }
    }
    co_return result;
}
} // namespace

LinkPreviewProvider::LinkPreviewProvider(QNetworkAccessManager *manager)
    : m_manager(manager)
{ }

QCoro::Task<LinkPreviewResult> LinkPreviewProvider::fetch(const QUrl &url) const
{
    return fetchPreview(m_manager ? m_manager : MetadataNetwork::manager(), url, m_timeout);
}

bool LinkPreviewProvider::isImage(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A small file can still claim enormous dimensions; no site icon needs more than this.
    reader.setAllocationLimit(64);
    const QImage image = reader.read();
    return !image.isNull();
}

QCoro::Task<bool> LinkPreviewProvider::isImageOffThread(QByteArray bytes)
{
    if (bytes.isEmpty())
        co_return false;
    QFuture<bool> decoding = PageWork::run([bytes] { return isImage(bytes); });
    co_return co_await decoding;
}
