#include "HtmlNestingEstimate.h"

#include "HtmlCharacters.h"

#include <array>
#include <cstring>
#include <gumbo.h>
#include <string>
#include <vector>

namespace {

using HtmlCharacters::isLetter;
using HtmlCharacters::lower;

enum class TagKind { Nested, Flat, RawText, Plaintext, Formatting };

TagKind kindOf(GumboTag tag, bool foreign)
{
    switch (tag) {
    // Void elements, and those a parser closes by itself when the next one starts.
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_MENUITEM:
    case GUMBO_TAG_ISINDEX:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_P:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_RB:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_RT:
    case GUMBO_TAG_RTC:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_BODY:
        return foreign ? TagKind::Nested : TagKind::Flat;
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_TITLE:
        return foreign ? TagKind::Nested : TagKind::RawText;
    case GUMBO_TAG_PLAINTEXT:
        return foreign ? TagKind::Nested : TagKind::Plaintext;
    case GUMBO_TAG_A:
    case GUMBO_TAG_B:
    case GUMBO_TAG_BIG:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_FONT:
    case GUMBO_TAG_I:
    case GUMBO_TAG_NOBR:
    case GUMBO_TAG_S:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_STRIKE:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_TT:
    case GUMBO_TAG_U:
        return foreign ? TagKind::Nested : TagKind::Formatting;
    default:
        return TagKind::Nested;
    }
}

// Elements an end tag of another name does not close through.
bool isScopeBoundary(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_FOREIGNOBJECT:
    case GUMBO_TAG_DESC:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_MI:
    case GUMBO_TAG_MO:
    case GUMBO_TAG_MN:
    case GUMBO_TAG_MS:
    case GUMBO_TAG_MTEXT:
    case GUMBO_TAG_ANNOTATION_XML:
        return true;
    default:
        return false;
    }
}

// HTML's "special" elements, of those the estimate keeps open.
bool isSpecial(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_UL:
        return true;
    default:
        return isScopeBoundary(tag);
    }
}

bool isNameChar(char c)
{
    return c != '>' && c != '/' && c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f';
}

// A tokenizer-level walk that keeps a stack of the elements a parser would leave open, and
// errs on the deep side: an end tag closes only through elements that HTML lets it close
// through, and formatting elements count until their own end tag comes.
class NestingEstimate
{
public:
    NestingEstimate(QByteArrayView html, int maxDepth, qint64 maxWork)
        : m_text(html.data())
        , m_size(size_t(html.size()))
        , m_maxDepth(maxDepth)
        , m_maxWork(maxWork)
    { }

    HtmlNestingEstimate::Result run()
    {
        size_t at = 0;
        while (at < m_size && m_deepest <= m_maxDepth && m_work <= m_maxWork) {
            const char *open = static_cast<const char *>(std::memchr(m_text + at, '<', m_size - at));
            // Every character of text makes the parser look at the open formatting elements.
            const size_t textEnd = open ? size_t(open - m_text) : m_size;
            m_work += qint64(textEnd - at) * m_formattingTotal / 16;
            if (!open)
                break;
            at = textEnd + 1;
            if (at >= m_size)
                break;
            // Each tag makes the parser walk the open elements, for scope checks and the like.
            m_work += qint64(m_open.size()) + m_formattingTotal + 1;
            const char c = m_text[at];
            if (c == '!') {
                at = skipMarkup(at);
            } else if (c == '/' && at + 1 < m_size && isLetter(m_text[at + 1])) {
                const std::string name = readName(at + 1, &at);
                at = skipTag(at, nullptr);
                endTag(name);
            } else if (isLetter(c)) {
                const std::string name = readName(at, &at);
                bool selfClosing = false;
                at = skipTag(at, &selfClosing);
                if (!startTag(name, selfClosing, &at))
                    break;
            }
        }
        return { m_deepest, m_work };
    }

private:
    struct Open
    {
        GumboTag tag;
        std::string name;
    };

    std::string readName(size_t at, size_t *end) const
    {
        std::string name;
        while (at < m_size && isNameChar(m_text[at])) {
            if (name.size() < 32)
                name.push_back(lower(m_text[at]));
            ++at;
        }
        *end = at;
        return name;
    }

    // Past the '>' that ends a tag, stepping over quoted attribute values.
    size_t skipTag(size_t at, bool *selfClosing) const
    {
        char previous = 0;
        while (at < m_size) {
            const char c = m_text[at];
            if (c == '>') {
                if (selfClosing)
                    *selfClosing = previous == '/';
                return at + 1;
            }
            if (c == '=') {
                size_t value = at + 1;
                while (value < m_size
                    && (m_text[value] == ' ' || m_text[value] == '\t' || m_text[value] == '\n'))
                    ++value;
                if (value < m_size && (m_text[value] == '"' || m_text[value] == '\'')) {
                    const void *close = std::memchr(m_text + value + 1, m_text[value], m_size - value - 1);
                    if (!close)
                        return m_size;
                    at = size_t(static_cast<const char *>(close) - m_text) + 1;
                    previous = 0;
                    continue;
                }
            }
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                previous = c;
            ++at;
        }
        return m_size;
    }

    // Comments, DOCTYPE and the like.
    size_t skipMarkup(size_t at) const
    {
        if (at + 2 < m_size && m_text[at + 1] == '-' && m_text[at + 2] == '-') {
            const QByteArrayView rest(m_text + at + 3, qsizetype(m_size - at - 3));
            const qsizetype end = rest.indexOf("-->");
            return end < 0 ? m_size : at + 3 + size_t(end) + 3;
        }
        const void *close = std::memchr(m_text + at, '>', m_size - at);
        return close ? size_t(static_cast<const char *>(close) - m_text) + 1 : m_size;
    }

    size_t skipRawText(size_t at, const std::string &name) const
    {
        for (; at + 1 + name.size() < m_size; ++at) {
            if (m_text[at] != '<' || m_text[at + 1] != '/')
                continue;
            size_t i = 0;
            while (i < name.size() && lower(m_text[at + 2 + i]) == name[i])
                ++i;
            if (i == name.size())
                return at;
        }
        return m_size;
    }

    static GumboTag tagOf(const std::string &name)
    {
        return gumbo_tagn_enum(name.data(), unsigned(name.size()));
    }

    // False once the rest of the input is text.
    bool startTag(const std::string &name, bool selfClosing, size_t *at)
    {
        const GumboTag tag = tagOf(name);
        const bool foreign = m_foreign > 0;
        switch (kindOf(tag, foreign)) {
        case TagKind::Flat:
            return true;
        case TagKind::RawText:
            *at = skipRawText(*at, name);
            return true;
        case TagKind::Plaintext:
            return false;
        case TagKind::Formatting:
            // A new <a> or <nobr> closes the one still open.
            if (tag == GUMBO_TAG_A || tag == GUMBO_TAG_NOBR) {
                if (m_formatting[tag] == 0)
                    ++m_formattingTotal;
                m_formatting[tag] = 1;
            } else {
                ++m_formatting[tag];
                ++m_formattingTotal;
            }
            note();
            return true;
        case TagKind::Nested:
            // Only foreign content (SVG, MathML) knows self-closing tags.
            if (selfClosing && foreign)
                return true;
            m_open.push_back({ tag, tag == GUMBO_TAG_UNKNOWN ? name : std::string() });
            if (tag == GUMBO_TAG_SVG || tag == GUMBO_TAG_MATH)
                ++m_foreign;
            note();
            return true;
        }
        return true;
    }

    void endTag(const std::string &name)
    {
        const GumboTag tag = tagOf(name);
        const bool foreign = m_foreign > 0;
        if (kindOf(tag, foreign) == TagKind::Formatting) {
            if (m_formatting[tag] > 0) {
                --m_formatting[tag];
                --m_formattingTotal;
            }
            return;
        }
        const bool special = isSpecial(tag);
        for (size_t i = m_open.size(); i-- > 0;) {
            const Open &open = m_open[i];
            if (open.tag == tag && (tag != GUMBO_TAG_UNKNOWN || open.name == name)) {
                for (size_t j = i; j < m_open.size(); ++j) {
                    if (m_open[j].tag == GUMBO_TAG_SVG || m_open[j].tag == GUMBO_TAG_MATH)
                        --m_foreign;
                }
                m_open.resize(i);
                return;
            }
            if (special ? isScopeBoundary(open.tag) : isSpecial(open.tag))
                return;
        }
    }

    void note()
    {
        const int depth = int(m_open.size()) + m_formattingTotal;
        if (depth > m_deepest)
            m_deepest = depth;
    }

    const char *m_text;
    size_t m_size;
    int m_maxDepth;
    qint64 m_maxWork;
    qint64 m_work = 0;
    int m_deepest = 0;
    int m_foreign = 0;
    int m_formattingTotal = 0;
    std::array<int, GUMBO_TAG_LAST + 1> m_formatting {};
    std::vector<Open> m_open;
};

} // namespace

HtmlNestingEstimate::Result HtmlNestingEstimate::measure(QByteArrayView html, int maxDepth, qint64 maxWork)
{
    return NestingEstimate(html, maxDepth, maxWork).run();
}
