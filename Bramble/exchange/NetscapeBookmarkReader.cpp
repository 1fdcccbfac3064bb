#include "NetscapeBookmarkReader.h"

#include "BookmarkHtmlPieces.h"
#include "BookmarkTreeBuilder.h"
#include "HtmlCharacters.h"
#include "HtmlNestingEstimate.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <gumbo.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using HtmlCharacters::isLetter;

// Text of a title or description beyond this is of no use and only costs memory.
constexpr size_t maxTextBytes = size_t(BookmarkTreeBuilder::maxTextLength) * 4;

struct GumboDeleter
{
    void operator()(GumboOutput *output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};

const char *attributeValue(const GumboElement &element, const char *name)
{
    const GumboAttribute *attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

bool attributeIsTrue(const GumboElement &element, const char *name)
{
    const char *value = attributeValue(element, name);
    return value && qstricmp(value, "true") == 0;
}

QDateTime attributeDate(const GumboElement &element, const char *name)
{
    const char *value = attributeValue(element, name);
    if (!value)
        return {};
    bool ok = false;
    const qint64 number = QByteArray(value).trimmed().toLongLong(&ok);
    return ok ? BookmarkTreeBuilder::fromUnixTime(number) : QDateTime();
}

bool hasTag(const GumboNode *node, GumboTag tag)
{
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag;
}

// The text below node, in document order, leaving out nested lists (a description's <DD>
// holds the folder that follows it) and anything past maxTextBytes.
QString textOf(const GumboNode *node)
{
    std::string text;
    std::vector<const GumboNode *> stack { node };
    while (!stack.empty() && text.size() < maxTextBytes) {
        const GumboNode *current = stack.back();
        stack.pop_back();
        if (current->type == GUMBO_NODE_TEXT || current->type == GUMBO_NODE_WHITESPACE
            || current->type == GUMBO_NODE_CDATA) {
            text += current->v.text.text;
            continue;
        }
        if (current->type != GUMBO_NODE_ELEMENT || (current != node && hasTag(current, GUMBO_TAG_DL)))
            continue;
        const GumboVector &children = current->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode *>(children.data[i]));
    }
    if (text.size() > maxTextBytes)
        text.resize(maxTextBytes);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

class TreeWalker
{
public:
    explicit TreeWalker(BookmarkTreeBuilder &builder)
        : m_builder(builder)
    { }

    bool firefoxLayout() const { return m_firefoxLayout; }
    bool failed() const { return m_builder.failed(); }
    bool hasUnclosedList() const { return m_unclosedList; }

    void walk(const GumboNode *root) { walkTree(root, {}, nullptr); }

    // Walks the tree of one piece of a cut file, parsed after as many <DL> tags as lists were
    // open where it starts: those lists are the ones the pieces before it left open. False when
    // the tree does not continue them as the cut promised.
    bool walkPiece(const GumboNode *root, int depth)
    {
        if (size_t(depth) != m_carried.size())
            return false;
        std::vector<const GumboNode *> wrappers;
        // The parser puts an empty <head> before the <body> that holds the piece.
        const GumboNode *node
            = firstElement(root, GUMBO_TAG_HEAD) ? secondElement(root, GUMBO_TAG_BODY) : nullptr;
        for (int i = 0; i < depth; ++i) {
            node = node ? firstElement(node, GUMBO_TAG_DL) : nullptr;
            if (!node)
                return false;
            wrappers.push_back(node);
        }
        std::vector<bool> stillOpen;
        walkTree(root, wrappers, &stillOpen);
        m_carried.assign(stillOpen.rbegin(), stillOpen.rend());
        return true;
    }

    // Lists the last piece left open; none in a whole file.
    size_t openLists() const { return m_carried.size(); }

private:
    struct Frame
    {
        const GumboNode *node;
        unsigned next;
        bool folder;
    };

    // The nth element among parent's children when it has that tag, else null.
    static const GumboNode *nthElement(const GumboNode *parent, unsigned n, GumboTag tag)
    {
        const GumboVector &children = parent->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto *child = static_cast<const GumboNode *>(children.data[i]);
            if (child->type == GUMBO_NODE_ELEMENT && n-- == 0)
                return hasTag(child, tag) ? child : nullptr;
        }
        return nullptr;
    }
    static const GumboNode *firstElement(const GumboNode *parent, GumboTag tag)
    {
        return nthElement(parent, 0, tag);
    }
    static const GumboNode *secondElement(const GumboNode *parent, GumboTag tag)
    {
        return nthElement(parent, 1, tag);
    }

    // With stillOpen, a list the piece's end closed (rather than its own end tag) goes on in the
    // next piece: its folder is not left, and stillOpen gets whether it is one, innermost first.
    void walkTree(
        const GumboNode *root, const std::vector<const GumboNode *> &wrappers, std::vector<bool> *stillOpen)
    {
        std::vector<Frame> stack;
        const auto open = [&](const GumboNode *node) {
            const auto wrapper = std::find(wrappers.begin(), wrappers.end(), node);
            if (wrapper != wrappers.end())
                return bool(m_carried[size_t(wrapper - wrappers.begin())]);
            return enter(node);
        };
        stack.push_back({ root, 0, open(root) });
        while (!stack.empty() && !m_builder.failed()) {
            Frame &frame = stack.back();
            const GumboVector *children = frame.node->type == GUMBO_NODE_ELEMENT && descends(frame.node)
                ? &frame.node->v.element.children
                : nullptr;
            if (!children || frame.next >= children->length) {
                if (stillOpen && hasTag(frame.node, GUMBO_TAG_DL)
                    && frame.node->v.element.original_end_tag.length == 0)
                    stillOpen->push_back(frame.folder);
                else if (frame.folder)
                    m_builder.leaveFolder();
                stack.pop_back();
                continue;
            }
            const auto *child = static_cast<const GumboNode *>(children->data[frame.next++]);
            if (child->type != GUMBO_NODE_ELEMENT)
                continue;
            const bool folder = open(child);
            if (m_builder.failed())
                break;
            stack.push_back({ child, 0, folder });
        }
    }

    static bool descends(const GumboNode *node)
    {
        switch (node->v.element.tag) {
        case GUMBO_TAG_A:
        case GUMBO_TAG_H3:
        case GUMBO_TAG_HEAD:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_TEMPLATE:
        case GUMBO_TAG_TEXTAREA:
            return false;
        default:
            return true;
        }
    }

    // Returns whether node opened a folder, to be left after its children.
    bool enter(const GumboNode *node)
    {
        if (node->type != GUMBO_NODE_ELEMENT || node->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
            return false;
        const GumboElement &element = node->v.element;
        switch (element.tag) {
        case GUMBO_TAG_DT:
            m_builder.forgetLastLink();
            return false;
        case GUMBO_TAG_H3:
            m_builder.forgetLastLink();
            m_pendingName = textOf(node);
            m_pendingDate = attributeDate(element, "add_date");
            m_pending = true;
            if (m_builder.depth() == 0) {
                if (attributeIsTrue(element, "personal_toolbar_folder")) {
                    m_pendingName = BookmarkRoots::toolbar;
                } else if (attributeIsTrue(element, "unfiled_bookmarks_folder")) {
                    m_pendingName = BookmarkRoots::other;
                    m_firefoxLayout = true;
                }
            }
            return false;
        case GUMBO_TAG_A:
            addLink(node);
            return false;
        case GUMBO_TAG_DD:
            if (m_builder.hasLastLink())
                m_builder.setLastLinkSummary(textOf(node));
            return false;
        case GUMBO_TAG_DL:
            if (element.original_end_tag.length == 0)
                m_unclosedList = true;
            if (!m_pending)
                return false;
            m_pending = false;
            return m_builder.enterFolder(m_pendingName, m_pendingDate);
        default:
            return false;
        }
    }

    // A link written into a <DD> is part of the description, not a bookmark; the folder list a
    // <DD> may hold is not description.
    static bool inDescription(const GumboNode *node)
    {
        for (const GumboNode *parent = node->parent; parent; parent = parent->parent) {
            if (hasTag(parent, GUMBO_TAG_DL))
                return false;
            if (hasTag(parent, GUMBO_TAG_DD))
                return true;
        }
        return false;
    }

    void addLink(const GumboNode *node)
    {
        const GumboElement &element = node->v.element;
        const char *href = attributeValue(element, "href");
        if (!href || inDescription(node))
            return;
        // A folder heading followed by a link rather than a list was an empty folder.
        m_pending = false;
        QString icon;
        const char *iconValue = attributeValue(element, "icon");
        if (iconValue && std::strlen(iconValue) <= size_t(BookmarkTreeBuilder::maxIconBytes) * 4 / 3 + 256)
            icon = QString::fromUtf8(iconValue);
        const QString address = std::strlen(href) > size_t(BookmarkTreeBuilder::maxAddressLength)
            ? QStringLiteral("about:too-long")
            : QString::fromUtf8(href);
        m_builder.addLink(address, textOf(node), {}, attributeDate(element, "add_date"),
            icon.isEmpty() ? QByteArray() : BookmarkTreeBuilder::iconFromDataUri(icon));
    }

    BookmarkTreeBuilder &m_builder;
    QString m_pendingName;
    QDateTime m_pendingDate;
    bool m_pending = false;
    bool m_firefoxLayout = false;
    bool m_unclosedList = false;
    // Whether each list left open by the last piece is a folder, outermost first.
    std::vector<bool> m_carried;
};

QByteArrayView leftOf(QByteArrayView text, qsizetype size)
{
    return text.first(std::min(size, text.size()));
}

QByteArrayView rightOf(QByteArrayView text, qsizetype size)
{
    return text.last(std::min(size, text.size()));
}

QByteArrayView withoutLeadingSpace(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    return text.sliced(i);
}

bool containsNoCase(QByteArrayView haystack, QByteArrayView needle)
{
    return QByteArray::fromRawData(haystack.data(), haystack.size()).toLower().contains(needle);
}

// The charset a <META> declares in the first few kilobytes, in lower case; empty when none.
QByteArray declaredCharset(QByteArrayView contents)
{
    const QByteArray head = leftOf(contents, 4096).toByteArray().toLower();
    const qsizetype at = head.indexOf("charset=");
    if (at < 0)
        return {};
    qsizetype start = at + 8;
    while (start < head.size() && (head[start] == '"' || head[start] == '\'' || head[start] == ' '))
        ++start;
    qsizetype end = start;
    while (end < head.size()
        && (isLetter(head[end]) || (head[end] >= '0' && head[end] <= '9') || head[end] == '-'
            || head[end] == '_'))
        ++end;
    return head.mid(start, end - start);
}

// Gumbo reads UTF-8 only. (UTF-16 files are converted before they get here.)
std::optional<QByteArray> asUtf8(const QByteArray &contents, QString *error)
{
    const QByteArray charset = declaredCharset(contents);
    if (charset.isEmpty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii")
        return contents;
    if (charset == "iso-8859-1" || charset == "latin1" || charset == "windows-1252" || charset == "cp1252")
        return QString::fromLatin1(contents).toUtf8();
    if (error)
        *error = QStringLiteral("The file is written in the character set “%1”, which Bramble cannot read. "
                                "Export the bookmarks again as UTF-8.")
                     .arg(QString::fromLatin1(charset));
    return std::nullopt;
}

using GumboTree = std::unique_ptr<GumboOutput, GumboDeleter>;

GumboTree parse(QByteArrayView text)
{
    GumboOptions options = kGumboDefaultOptions;
    // Errors are not looked at; recording all of them for a sloppy file would only cost memory.
    options.max_errors = 0;
    return GumboTree(gumbo_parse_with_options(&options, text.data(), size_t(text.size())));
}

// Parses the pieces on their own threads, in order, while this one walks each tree as soon as
// it is there. False when a tree did not continue the ones before it; the walker is then spent.
bool walkPieces(QByteArrayView input, const std::vector<BookmarkHtmlPieces::Piece> &pieces, int threads,
    TreeWalker &walker)
{
    std::vector<std::promise<GumboTree>> parsed(pieces.size());
    std::vector<std::future<GumboTree>> trees;
    for (auto &promise : parsed)
        trees.push_back(promise.get_future());
    std::atomic<size_t> next { 0 };
    std::atomic<bool> stop { false };
    const auto work = [&] {
        for (size_t i = next++; i < pieces.size() && !stop; i = next++) {
            const BookmarkHtmlPieces::Piece &piece = pieces[i];
            std::string text;
            text.reserve(size_t(piece.depth) * 4 + size_t(piece.size));
            for (int level = 0; level < piece.depth; ++level)
                text += "<dl>";
            text.append(input.data() + piece.offset, size_t(piece.size));
            parsed[i].set_value(parse(text));
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < std::min(threads, int(pieces.size())); ++i)
        workers.emplace_back(work);

    bool ok = true;
    bool refused = false;
    for (size_t i = 0; i < pieces.size() && ok && !refused; ++i) {
        const GumboTree tree = trees[i].get();
        ok = tree && walker.walkPiece(tree->root, pieces[i].depth);
        // The file is refused (too many links, say): the rest need not be read.
        refused = ok && walker.failed();
    }
    ok = ok && (refused || walker.openLists() == 0);
    stop = true;
    for (std::thread &worker : workers)
        worker.join();
    return ok;
}

bool endsDocument(QByteArrayView utf8)
{
    return containsNoCase(rightOf(utf8, 4096), "</html") || containsNoCase(rightOf(utf8, 4096), "</body");
}

} // namespace

bool NetscapeBookmarkReader::looksLikeBookmarkHtml(QByteArrayView contents)
{
    const QByteArrayView text = withoutLeadingSpace(contents);
    if (text.size() >= 34 && containsNoCase(text.first(34), "<!doctype netscape-bookmark-file-1"))
        return true;
    if (!text.startsWith('<'))
        return false;
    const QByteArrayView head = leftOf(text, 64 * 1024);
    return containsNoCase(head, "<dt") && containsNoCase(head, "<a ");
}

std::optional<ImportedBookmarks> NetscapeBookmarkReader::read(
    const QByteArray &contents, QString *error, ReadMode mode, int *piecesUsed)
{
    const auto failWith = [error](const QString &message) -> std::optional<ImportedBookmarks> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (contents.size() > maxFileBytes)
        return failWith(
            QStringLiteral("The bookmark file is larger than %1 MB.").arg(maxFileBytes / (1024 * 1024)));
    std::optional<QByteArray> utf8 = asUtf8(contents, error);
    if (!utf8)
        return std::nullopt;
    QByteArrayView input(*utf8);
    if (input.startsWith("\xEF\xBB\xBF"))
        input = input.sliced(3);
    const HtmlNestingEstimate::Result shape
        = HtmlNestingEstimate::measure(input, maxNestingDepth, maxParseWork);
    if (shape.depth > maxNestingDepth)
        return failWith(QStringLiteral("The file's markup is nested more than %1 levels deep; it is not a "
                                       "bookmark file Bramble can read.")
                            .arg(maxNestingDepth));
    if (shape.work > maxParseWork)
        return failWith(
            QStringLiteral("The file's markup is too tangled to be a bookmark file: thousands of its "
                           "elements are left open."));

    if (mode != ReadMode::Whole) {
        const int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
        const bool small = mode == ReadMode::SmallPieces;
        const auto pieces = BookmarkHtmlPieces::split(
            input, small ? 8 : threads * 2, small ? 1024 : BookmarkHtmlPieces::minPieceBytes);
        if (!pieces.empty()) {
            BookmarkTreeBuilder builder(BookmarkSource::html);
            TreeWalker walker(builder);
            if (walkPieces(input, pieces, std::max(2, threads), walker)) {
                if (piecesUsed)
                    *piecesUsed = int(pieces.size());
                if (builder.failed())
                    return failWith(builder.error());
                builder.setLooseLinksName(
                    walker.firefoxLayout() ? BookmarkRoots::menu : BookmarkRoots::unsorted);
                return builder.finish();
            }
            // Not as the cut promised: read it whole, as if it had not been cut.
        }
    }
    if (piecesUsed)
        *piecesUsed = 1;

    const GumboTree output = parse(input);
    if (!output)
        return failWith(QStringLiteral("The bookmark file could not be parsed."));

    BookmarkTreeBuilder builder(BookmarkSource::html);
    TreeWalker walker(builder);
    walker.walk(output->root);
    if (builder.failed())
        return failWith(builder.error());
    if (walker.hasUnclosedList() && !endsDocument(input))
        return failWith(QStringLiteral("The bookmark file ends before its last folder is closed; it seems to "
                                       "be cut off. Export the bookmarks again."));
    builder.setLooseLinksName(walker.firefoxLayout() ? BookmarkRoots::menu : BookmarkRoots::unsorted);
    return builder.finish();
}
