#include "BookmarkHtmlPieces.h"

#include "HtmlCharacters.h"

#include <algorithm>
#include <cstring>

namespace {

using HtmlCharacters::isLetter;
using HtmlCharacters::isSpace;
using HtmlCharacters::lower;

bool startsWithNoCase(const char *text, size_t size, const char *prefix)
{
    const size_t length = std::strlen(prefix);
    if (size < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (lower(text[i]) != prefix[i])
            return false;
    }
    return true;
}

class Scanner
{
public:
    Scanner(QByteArrayView html, int count, qsizetype minBytes)
        : m_text(html.data())
        , m_size(size_t(html.size()))
        , m_count(count)
        , m_minBytes(size_t(std::max<qsizetype>(1, minBytes)))
    { }

    std::vector<BookmarkHtmlPieces::Piece> run()
    {
        if (m_count < 2 || m_size < 2 * m_minBytes)
            return {};
        m_pieceBytes = std::max(m_minBytes, m_size / size_t(m_count));
        m_pieces.push_back({ 0, 0, 0 });
        size_t at = 0;
        while (at < m_size) {
            const char *open = static_cast<const char *>(std::memchr(m_text + at, '<', m_size - at));
            if (!open)
                break;
            at = size_t(open - m_text);
            if (!step(&at))
                return {};
        }
        if (m_depth != 0 || m_open != Open::None || m_pieces.size() < 2)
            return {};
        for (size_t i = 0; i + 1 < m_pieces.size(); ++i)
            m_pieces[i].size = m_pieces[i + 1].offset - m_pieces[i].offset;
        m_pieces.back().size = qsizetype(m_size) - m_pieces.back().offset;
        return m_pieces;
    }

private:
    enum class Open { None, Link, Heading, Title };

    // Reads the markup at *at, which holds '<'; false when the file is not of the plain shape.
    bool step(size_t *at)
    {
        const size_t start = *at;
        const char next = start + 1 < m_size ? m_text[start + 1] : '\0';
        if (next == '!')
            return skipDeclaration(at);
        const bool end = next == '/';
        const size_t nameStart = start + (end ? 2 : 1);
        if (nameStart >= m_size || !isLetter(m_text[nameStart])) {
            // A '<' that starts no tag is text, but "</1" and "<?" start a comment.
            *at = start + 1;
            return !end && next != '?';
        }
        size_t i = nameStart;
        char name[8] = {};
        size_t length = 0;
        while (i < m_size && !isSpace(m_text[i]) && m_text[i] != '>' && m_text[i] != '/') {
            if (length < sizeof name - 1)
                name[length] = lower(m_text[i]);
            ++length;
            ++i;
        }
        if (length >= sizeof name - 1 || !skipAttributes(&i))
            return false;
        *at = i;
        const QByteArrayView tag(name, qsizetype(length));
        return end ? endTag(tag) : startTag(tag, start, at);
    }

    bool startTag(QByteArrayView tag, size_t start, size_t *at)
    {
        // Inside a link or heading only text: anything else would be nested in it.
        if (m_open != Open::None)
            return false;
        if (tag == "dt") {
            if (m_depth > 0 && start - size_t(m_pieces.back().offset) >= m_pieceBytes
                && int(m_pieces.size()) < m_count)
                m_pieces.push_back({ qsizetype(start), 0, m_depth });
            return true;
        }
        if (tag == "dl") {
            ++m_depth;
            return true;
        }
        if (tag == "a" || tag == "h3" || tag == "h1") {
            m_open = tag == "a" ? Open::Link : Open::Heading;
            return true;
        }
        if (tag == "title") {
            // Its text is not markup, up to its end tag.
            const char *close = findNoCase(*at, "</title");
            if (!close)
                return false;
            *at = size_t(close - m_text);
            m_open = Open::Title;
            return true;
        }
        return tag == "dd" || tag == "p" || tag == "meta" || tag == "hr" || tag == "br" || tag == "html"
            || tag == "head" || tag == "body";
    }

    bool endTag(QByteArrayView tag)
    {
        if (m_open != Open::None) {
            const bool closes = (m_open == Open::Link && tag == "a")
                || (m_open == Open::Heading && (tag == "h3" || tag == "h1"))
                || (m_open == Open::Title && tag == "title");
            m_open = Open::None;
            return closes;
        }
        if (tag == "dl")
            return m_depth-- > 0;
        return tag == "dd" || tag == "dt" || tag == "p" || tag == "html" || tag == "head" || tag == "body";
    }

    // A comment or the DOCTYPE. The odd comment endings HTML also accepts are not cut around.
    bool skipDeclaration(size_t *at)
    {
        const size_t start = *at;
        if (m_size - start >= 4 && std::memcmp(m_text + start, "<!--", 4) == 0) {
            if (start + 4 < m_size && (m_text[start + 4] == '>' || m_text[start + 4] == '-'))
                return false;
            const char *close = find(start + 4, "-->");
            if (!close || find(start + 4, "--!>", close))
                return false;
            *at = size_t(close - m_text) + 3;
            return true;
        }
        if (!startsWithNoCase(m_text + start, m_size - start, "<!doctype"))
            return false;
        const char *close = static_cast<const char *>(std::memchr(m_text + start, '>', m_size - start));
        if (!close)
            return false;
        *at = size_t(close - m_text) + 1;
        return true;
    }

    // Moves *at past the tag's '>'; false when the tag never ends, or holds a name or an
    // unquoted value with a quote, '<' or '=' in it, which HTML reads in ways not followed here.
    bool skipAttributes(size_t *at)
    {
        size_t i = *at;
        const auto skipSpace = [&] {
            while (i < m_size && isSpace(m_text[i]))
                ++i;
        };
        const auto odd = [](char c) { return c == '"' || c == '\'' || c == '<' || c == '=' || c == '`'; };
        while (i < m_size) {
            const char c = m_text[i];
            if (c == '>') {
                *at = i + 1;
                return true;
            }
            if (isSpace(c) || c == '/') {
                ++i;
                continue;
            }
            for (; i < m_size && !isSpace(m_text[i]) && m_text[i] != '/' && m_text[i] != '>'
                 && m_text[i] != '=';
                 ++i) {
                if (odd(m_text[i]))
                    return false;
            }
            skipSpace();
            if (i >= m_size || m_text[i] != '=')
                continue;
            ++i;
            skipSpace();
            if (i < m_size && (m_text[i] == '"' || m_text[i] == '\'')) {
                const char *close
                    = static_cast<const char *>(std::memchr(m_text + i + 1, m_text[i], m_size - i - 1));
                if (!close)
                    return false;
                i = size_t(close - m_text) + 1;
                continue;
            }
            for (; i < m_size && !isSpace(m_text[i]) && m_text[i] != '>'; ++i) {
                if (odd(m_text[i]))
                    return false;
            }
        }
        return false;
    }

    const char *find(size_t from, const char *needle, const char *before = nullptr) const
    {
        const char *end = before ? before : m_text + m_size;
        const size_t length = std::strlen(needle);
        for (const char *p = m_text + from; p + length <= end;) {
            p = static_cast<const char *>(std::memchr(p, needle[0], size_t(end - p)));
            if (!p || p + length > end)
                return nullptr;
            if (std::memcmp(p, needle, length) == 0)
                return p;
            ++p;
        }
        return nullptr;
    }

    const char *findNoCase(size_t from, const char *needle) const
    {
        for (size_t i = from; i < m_size;) {
            const char *p = static_cast<const char *>(std::memchr(m_text + i, '<', m_size - i));
            if (!p)
                return nullptr;
            if (startsWithNoCase(p, size_t(m_text + m_size - p), needle))
                return p;
            i = size_t(p - m_text) + 1;
        }
        return nullptr;
    }

    const char *m_text;
    size_t m_size;
    int m_count;
    size_t m_minBytes;
    size_t m_pieceBytes = 0;
    int m_depth = 0;
    Open m_open = Open::None;
    std::vector<BookmarkHtmlPieces::Piece> m_pieces;
};

} // namespace

std::vector<BookmarkHtmlPieces::Piece> BookmarkHtmlPieces::split(
    QByteArrayView html, int count, qsizetype minBytes)
{
    return Scanner(html, count, minBytes).run();
}
