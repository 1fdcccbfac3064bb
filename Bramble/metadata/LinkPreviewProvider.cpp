#include "LinkPreviewProvider.h"

#include "HttpGet.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <climits>
#include <gumbo.h>
#include <vector>

namespace {
const QByteArray userAgent = QByteArrayLiteral(
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 Safari/537.36");
const QByteArray acceptPage = QByteArrayLiteral(
    "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8");
const QByteArray acceptImage
    = QByteArrayLiteral("image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8");
const QByteArray acceptLanguage = QByteArrayLiteral("en-US,en;q=0.9");

constexpr int largeIcon = INT_MAX;

QByteArray charsetParameter(const QByteArray &contentType)
{
    static const QRegularExpression pattern(QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9_:.+-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(QString::fromLatin1(contentType));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

QByteArray sniffMetaCharset(const QByteArray &body)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(<meta\b[^>]*?charset\s*=\s*["']?\s*([A-Za-z0-9_:.+-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(QString::fromLatin1(body.left(4096)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

std::optional<QStringDecoder> decoderFor(QByteArray label)
{
    label = label.trimmed().toLower();
    if (label.isEmpty())
        return std::nullopt;
    // Browsers read these labels as windows-1252, and so do pages that declare them.
    if (label == "iso-8859-1" || label == "iso8859-1" || label == "latin1" || label == "us-ascii"
        || label == "ascii")
        label = "windows-1252";
    // A page cannot really be UTF-16 if its bytes let us read the declaration.
    if (label.startsWith("utf-16"))
        label = "utf-8";
    QStringDecoder decoder(label.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder;
}

QString attribute(const GumboElement &element, const char *name)
{
    const GumboAttribute *attr = gumbo_get_attribute(&element.attributes, name);
    return attr ? QString::fromUtf8(attr->value) : QString();
}

QString textOf(const GumboNode *node)
{
    QString text;
    const GumboVector &children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto *child = static_cast<const GumboNode *>(children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE
            || child->type == GUMBO_NODE_CDATA)
            text += QString::fromUtf8(child->v.text.text);
    }
    return text;
}

int declaredSize(const QString &sizes, const QString &type, const QUrl &url)
{
    if (type.contains(QLatin1String("svg"), Qt::CaseInsensitive)
        || url.path().endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        return largeIcon;
    int best = 0;
    const auto tokens = sizes.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        if (token.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0)
            return largeIcon;
        const auto parts = token.toLower().split(QLatin1Char('x'));
        if (parts.size() != 2)
            continue;
        bool okW = false, okH = false;
        const int w = parts[0].toInt(&okW), h = parts[1].toInt(&okH);
        if (okW && okH)
            best = std::max({ best, w, h });
    }
    return best;
}

bool isIconRel(const QString &rel)
{
    const auto tokens = rel.toLower().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        if (token == QLatin1String("icon") || token == QLatin1String("apple-touch-icon")
            || token == QLatin1String("apple-touch-icon-precomposed"))
            return true;
    }
    return false;
}

std::optional<QString> cleanTitle(const QString &text)
{
    const QString simplified = text.simplified();
    if (simplified.isEmpty())
        return std::nullopt;
    return simplified;
}

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

QCoro::Task<LinkPreviewResult> fetchPreview(
    QNetworkAccessManager *manager, QUrl url, std::chrono::milliseconds timeout)
{
    LinkPreviewResult result;
    if (!MetadataNetwork::isFetchableScheme(url)) {
        result.error = QStringLiteral("unsupported URL");
        co_return result;
    }
    const QDeadlineTimer deadline(timeout);

    HttpGetOptions pageOptions;
    pageOptions.timeout = timeout;
    pageOptions.maxBytes = LinkPreviewProvider::maxPageBytes;
    pageOptions.headers
        = { { "User-Agent", userAgent }, { "Accept", acceptPage }, { "Accept-Language", acceptLanguage } };
    const HttpGetResult page = co_await httpGet(manager, url, pageOptions);
    if (!page.received) {
        result.error = page.error;
        co_return result;
    }
    if (page.status >= 400) {
        result.error = QStringLiteral("The server answered with HTTP status %1.").arg(page.status);
        co_return result;
    }

    const QByteArray body = page.truncated ? cutToCompleteUtf8(page.body) : page.body;
    const PageHead head = LinkPreviewProvider::parseHead(
        LinkPreviewProvider::decodePage(body, page.contentType), page.finalUrl);
    result.ok = true;
    result.preview.title = head.title;
    if (head.icons.isEmpty())
        co_return result;

    const QUrl iconUrl = head.icons.first().url;
    if (iconUrl.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        const auto bytes = decodeDataUrl(iconUrl, LinkPreviewProvider::maxIconBytes);
        if (bytes && LinkPreviewProvider::isImage(*bytes))
            result.preview.iconData = bytes;
        co_return result;
    }
    const auto remaining
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
    if (remaining.count() <= 0)
        co_return result;
    HttpGetOptions iconOptions;
    iconOptions.timeout = remaining;
    iconOptions.maxBytes = LinkPreviewProvider::maxIconBytes;
    iconOptions.headers = { { "User-Agent", userAgent }, { "Accept", acceptImage } };
    const HttpGetResult icon = co_await httpGet(manager, iconUrl, iconOptions);
    // An icon past the limit counts as no image at all.
    if (icon.received && icon.status >= 200 && icon.status < 300 && !icon.truncated && !icon.body.isEmpty()
        && LinkPreviewProvider::isImage(icon.body))
        result.preview.iconData = icon.body;
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

QString LinkPreviewProvider::decodePage(const QByteArray &body, const QByteArray &contentType)
{
    if (const auto bom = QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(body);
    }
    auto decoder = decoderFor(charsetParameter(contentType));
    if (!decoder)
        decoder = decoderFor(sniffMetaCharset(body));
    if (!decoder)
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder->decode(body);
}

PageHead LinkPreviewProvider::parseHead(const QString &html, const QUrl &baseUrl)
{
    const QByteArray utf8 = html.toUtf8();
    GumboOutput *output
        = gumbo_parse_with_options(&kGumboDefaultOptions, utf8.constData(), size_t(utf8.size()));

    std::optional<QString> ogTitle, twitterTitle, plainTitle;
    QString baseHref;
    struct Link
    {
        QString href, sizes, type;
    };
    std::vector<Link> links;

    // Iterative walk: hostile pages can nest deeply.
    std::vector<const GumboNode *> stack { output->root };
    while (!stack.empty()) {
        const GumboNode *node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement &element = node->v.element;
        // An <svg> has <title>s of its own.
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML)
            continue;
        switch (element.tag) {
        case GUMBO_TAG_TITLE:
            if (!plainTitle)
                plainTitle = cleanTitle(textOf(node));
            break;
        case GUMBO_TAG_META: {
            const QString key
                = (attribute(element, "property") + QLatin1Char(' ') + attribute(element, "name")).toLower();
            const auto keys = key.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (!ogTitle && keys.contains(QLatin1String("og:title")))
                ogTitle = cleanTitle(attribute(element, "content"));
            if (!twitterTitle && keys.contains(QLatin1String("twitter:title")))
                twitterTitle = cleanTitle(attribute(element, "content"));
            break;
        }
        case GUMBO_TAG_LINK: {
            const QString href = attribute(element, "href").trimmed();
            if (!href.isEmpty() && isIconRel(attribute(element, "rel")))
                links.push_back({ href, attribute(element, "sizes"), attribute(element, "type") });
            break;
        }
        case GUMBO_TAG_BASE:
            if (baseHref.isEmpty())
                baseHref = attribute(element, "href").trimmed();
            break;
        default:
            break;
        }
        // Children pushed in reverse so that document order is kept.
        for (unsigned i = element.children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode *>(element.children.data[i - 1]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);

    PageHead head;
    head.title = ogTitle ? ogTitle : twitterTitle ? twitterTitle : plainTitle;

    QUrl base = baseUrl;
    if (!baseHref.isEmpty()) {
        const QUrl declared = baseUrl.resolved(QUrl(baseHref));
        if (declared.isValid() && MetadataNetwork::isFetchableScheme(declared))
            base = declared;
    }
    for (const Link &link : links) {
        const QUrl resolved = base.resolved(QUrl(link.href));
        const bool isData = resolved.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0;
        if (!resolved.isValid() || (!isData && !MetadataNetwork::isFetchableScheme(resolved)))
            continue;
        head.icons.append({ resolved, declaredSize(link.sizes, link.type, resolved) });
    }
    // Largest first; equal sizes keep document order.
    std::stable_sort(head.icons.begin(), head.icons.end(),
        [](const PageHead::Icon &a, const PageHead::Icon &b) { return a.size > b.size; });
    return head;
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
