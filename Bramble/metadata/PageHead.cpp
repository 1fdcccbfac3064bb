#include "PageHead.h"

#include "HeadMarkup.h"
#include "HttpGet.h"
#include "PageWork.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <gumbo.h>
#include <vector>

namespace {
constexpr int largeIcon = INT_MAX;

QByteArray charsetParameter(const QByteArray &contentType)
{
    static const QRegularExpression pattern(QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9_:.+-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(QString::fromLatin1(contentType.left(1024)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

QByteArray sniffMetaCharset(QByteArrayView body)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(<meta\b[^>]*?charset\s*=\s*["']?\s*([A-Za-z0-9_:.+-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(QString::fromLatin1(body.first(std::min<qsizetype>(body.size(), 4096))));
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

// The page's own decoder, unless a byte-order mark overrides it.
QStringDecoder declaredDecoder(QByteArrayView body, const QByteArray &contentType)
{
    auto decoder = decoderFor(charsetParameter(contentType));
    if (!decoder)
        decoder = decoderFor(sniffMetaCharset(body));
    if (!decoder)
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return std::move(*decoder);
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

const QRegularExpression &whiteSpace()
{
    static const QRegularExpression pattern(QStringLiteral("\\s+"));
    return pattern;
}

int declaredSize(const QString &sizes, const QString &type, const QUrl &url)
{
    if (type.contains(QLatin1String("svg"), Qt::CaseInsensitive)
        || url.path().endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        return largeIcon;
    int best = 0;
    const auto tokens = sizes.split(whiteSpace(), Qt::SkipEmptyParts);
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
    const auto tokens = rel.toLower().split(whiteSpace(), Qt::SkipEmptyParts);
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

// Counts what the parser allocates; each block carries its size in front.
struct ParserMemory
{
    static constexpr size_t header = 16; // keeps malloc's alignment
    qsizetype current = 0;
    qsizetype peak = 0;

    static void *allocate(void *userdata, size_t size)
    {
        auto *memory = static_cast<ParserMemory *>(userdata);
        auto *block = static_cast<char *>(std::malloc(size + header));
        if (!block)
            std::abort(); // the parser cannot recover from a failed allocation either
        *reinterpret_cast<size_t *>(block) = size;
        memory->current += qsizetype(size);
        memory->peak = std::max(memory->peak, memory->current);
        return block + header;
    }
    static void deallocate(void *userdata, void *pointer)
    {
        if (!pointer)
            return;
        char *block = static_cast<char *>(pointer) - header;
        static_cast<ParserMemory *>(userdata)->current -= qsizetype(*reinterpret_cast<size_t *>(block));
        std::free(block);
    }
};
} // namespace

PageHead PageHead::parse(QByteArrayView body, const QByteArray &contentType, const QUrl &baseUrl)
{
    // The markup is found in the page's own bytes where ASCII stays ASCII; a page in UTF-16 or
    // UTF-32 is made UTF-8 first.
    QByteArray utf8;
    if (const auto bom = QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*bom);
        utf8 = HeadMarkup::extract(QString(decoder.decode(body)).toUtf8()).markup;
    } else {
        QStringDecoder decoder = declaredDecoder(body, contentType);
        utf8 = QString(decoder.decode(HeadMarkup::extract(body).markup)).toUtf8();
    }

    ParserMemory memory;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParserMemory::allocate;
    options.deallocator = &ParserMemory::deallocate;
    options.userdata = &memory;
    options.max_errors = 0; // errors are not read, and each would copy the open elements
    GumboOutput *output = gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size()));

    std::optional<QString> ogTitle, twitterTitle, plainTitle;
    QString baseHref;
    struct Link
    {
        QString href, sizes, type;
    };
    std::vector<Link> links;
    int deepest = 0;

    std::vector<std::pair<const GumboNode *, int>> stack { { output->root, 1 } };
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        deepest = std::max(deepest, depth);
        const GumboElement &element = node->v.element;
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
            stack.push_back({ static_cast<const GumboNode *>(element.children.data[i - 1]), depth + 1 });
    }
    gumbo_destroy_output(&options, output);

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

    head.cost = { utf8.size(), memory.peak, deepest, PageWork::onMainThread() };
    PageWork::recordHeadParse(
        head.cost.parserBytes, head.cost.parserPeakMemory, head.cost.treeDepth, head.cost.onMainThread);
    return head;
}
