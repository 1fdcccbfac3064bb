#include "ReleaseNotes.h"

#include <QUrl>
#include <gumbo.h>
#include <memory>
#include <vector>

namespace {
enum class Treatment { Keep, Unwrap, Drop };

Treatment treatmentOf(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_P:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_B:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_I:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_U:
    case GUMBO_TAG_S:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_A:
        return Treatment::Keep;
    // Whatever runs, loads or only describes the page goes with everything inside it.
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TEXTAREA:
        return Treatment::Drop;
    default:
        return Treatment::Unwrap;
    }
}

bool isVoid(GumboTag tag)
{
    return tag == GUMBO_TAG_BR || tag == GUMBO_TAG_HR;
}

// The link's address when it is one the browser may be handed, else empty.
QString webLink(const GumboElement &element)
{
    const GumboAttribute *href = gumbo_get_attribute(&element.attributes, "href");
    if (!href)
        return QString();
    const QUrl url(QString::fromUtf8(href->value).trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QString();
    return url.toString(QUrl::FullyEncoded);
}

// Qt lays out a long run with no place to break (one endless word) and a pile of marks on
// one letter in time that grows with their square: give the run a place to break every so
// often, and a letter at most a few marks.
QString tamed(const QString &text)
{
    constexpr int kLongestRun = 64;
    constexpr int kMostMarks = 8;
    QString out;
    out.reserve(text.size());
    int run = 0;
    int marks = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar::Category category = c.category();
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing;
        marks = mark ? marks + 1 : 0;
        if (marks > kMostMarks)
            continue;
        out += c;
        run = c.isSpace() ? 0 : run + 1;
        if (run >= kLongestRun && !c.isHighSurrogate()) {
            out += QChar(0x200B); // zero-width space
            run = 0;
        }
    }
    return out;
}

struct Frame
{
    const GumboNode *node;
    unsigned int next = 0;
    // The closing tag to write once the children are done, or empty.
    QString close;
};

struct OutputDeleter
{
    void operator()(GumboOutput *output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};
} // namespace

QString ReleaseNotes::safeHtml(const QString &notes)
{
    QString text = notes.left(kMaxLength);
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
    qsizetype tags = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('<') && ++tags > kMaxTags) {
            text.truncate(i);
            break;
        }
    }
    const QByteArray utf8 = text.toUtf8();
    std::unique_ptr<GumboOutput, OutputDeleter> output(
        gumbo_parse_with_options(&kGumboDefaultOptions, utf8.constData(), size_t(utf8.size())));
    if (!output)
        return QString();

    QString html;
    bool anyText = false;
    // Walked with a stack of our own: the notes may nest as deep as they like.
    std::vector<Frame> stack;
    stack.push_back({ output->root, 0, {} });
    int keptDepth = 0;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        const GumboNode *node = frame.node;
        const GumboVector *children = node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE
            ? &node->v.element.children
            : nullptr;
        if (!children || frame.next >= children->length) {
            html += frame.close;
            if (!frame.close.isEmpty())
                --keptDepth;
            stack.pop_back();
            continue;
        }
        const auto *child = static_cast<const GumboNode *>(children->data[frame.next++]);
        switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_CDATA:
        case GUMBO_NODE_WHITESPACE: {
            const QString piece = QString::fromUtf8(child->v.text.text);
            anyText = anyText || !piece.trimmed().isEmpty();
            html += tamed(piece).toHtmlEscaped();
            break;
        }
        case GUMBO_NODE_ELEMENT: {
            const GumboElement &element = child->v.element;
            const Treatment treatment = treatmentOf(element.tag);
            if (treatment == Treatment::Drop)
                break;
            QString close;
            if (treatment == Treatment::Keep && keptDepth < kMaxDepth) {
                const QString name = QString::fromUtf8(gumbo_normalized_tagname(element.tag));
                if (element.tag == GUMBO_TAG_A) {
                    const QString href = webLink(element);
                    if (!href.isEmpty()) {
                        html += QStringLiteral("<a href=\"%1\">").arg(href.toHtmlEscaped());
                        close = QStringLiteral("</a>");
                    }
                } else if (isVoid(element.tag)) {
                    html += QLatin1Char('<') + name + QLatin1Char('>');
                } else {
                    html += QLatin1Char('<') + name + QLatin1Char('>');
                    close = QStringLiteral("</") + name + QLatin1Char('>');
                }
            }
            if (!close.isEmpty())
                ++keptDepth;
            stack.push_back({ child, 0, close });
            break;
        }
        default:
            break;
        }
    }
    return anyText ? html : QString();
}
