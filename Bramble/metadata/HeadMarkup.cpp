#include "HeadMarkup.h"

#include "exchange/HtmlCharacters.h"

#include <cstring>
#include <string_view>

namespace {

using HtmlCharacters::isSpace;

// The rules below follow the HTML tokenizer closely enough that a tag ends where a browser ends
// it; where they differ, only what is emitted can be wrong, never how much a parser has to do.
class Scanner
{
public:
    explicit Scanner(QByteArrayView page)
        : m_data(page.data())
        , m_size(page.size())
    { }

    qsizetype size() const { return m_size; }
    char at(qsizetype i) const { return m_data[i]; }
    const char *data() const { return m_data; }

    qsizetype find(char c, qsizetype from) const
    {
        if (from >= m_size)
            return -1;
        const void *hit = std::memchr(m_data + from, c, size_t(m_size - from));
        return hit ? static_cast<const char *>(hit) - m_data : -1;
    }

    qsizetype find(std::string_view needle, qsizetype from) const
    {
        const std::string_view haystack(m_data, size_t(m_size));
        const size_t hit = haystack.find(needle, size_t(from));
        return hit == std::string_view::npos ? -1 : qsizetype(hit);
    }

    // Whether the bytes at i spell name, ignoring ASCII case.
    bool matches(qsizetype i, std::string_view name) const
    {
        if (i + qsizetype(name.size()) > m_size)
            return false;
        for (size_t k = 0; k < name.size(); ++k) {
            if (HtmlCharacters::lower(m_data[i + qsizetype(k)]) != name[k])
                return false;
        }
        return true;
    }

    qsizetype nameEnd(qsizetype i) const
    {
        while (i < m_size && !isSpace(m_data[i]) && m_data[i] != '/' && m_data[i] != '>')
            ++i;
        return i;
    }

    std::string_view lowerName(qsizetype begin, qsizetype end, char (&buffer)[16]) const
    {
        if (end - begin > qsizetype(sizeof buffer))
            return {}; // no name we act on is this long
        for (qsizetype i = begin; i < end; ++i)
            buffer[i - begin] = HtmlCharacters::lower(m_data[i]);
        return std::string_view(buffer, size_t(end - begin));
    }

    struct Tag
    {
        qsizetype end = -1; // just past the closing '>'; -1 when the page ends inside the tag
        int attributes = 0;
        bool selfClosing = false;
    };

    // The attributes of a tag, from just after its name to its closing '>'.
    Tag finishTag(qsizetype i) const
    {
        Tag tag;
        while (true) {
            while (i < m_size && (isSpace(m_data[i]) || m_data[i] == '/')) {
                tag.selfClosing = m_data[i] == '/';
                ++i;
            }
            if (i >= m_size)
                return tag;
            if (m_data[i] == '>') {
                tag.end = i + 1;
                return tag;
            }
            tag.selfClosing = false;
            ++tag.attributes;
            // A name may begin with '='; after that, '=' ends it.
            ++i;
            while (
                i < m_size && !isSpace(m_data[i]) && m_data[i] != '/' && m_data[i] != '>' && m_data[i] != '=')
                ++i;
            qsizetype j = i;
            while (j < m_size && isSpace(m_data[j]))
                ++j;
            if (j >= m_size || m_data[j] != '=')
                continue;
            i = j + 1;
            while (i < m_size && isSpace(m_data[i]))
                ++i;
            if (i < m_size && (m_data[i] == '"' || m_data[i] == '\'')) {
                const qsizetype close = find(m_data[i], i + 1);
                if (close < 0)
                    return tag;
                i = close + 1;
            } else {
                while (i < m_size && !isSpace(m_data[i]) && m_data[i] != '>')
                    ++i;
            }
        }
    }

    // Where "</name" followed by a space, '/', '>' or the end begins, at or after from.
    qsizetype findEndTag(qsizetype from, std::string_view name) const
    {
        while (true) {
            const qsizetype lt = find('<', from);
            if (lt < 0)
                return -1;
            const qsizetype after = lt + 2 + qsizetype(name.size());
            if (lt + 1 < m_size && m_data[lt + 1] == '/' && matches(lt + 2, name)
                && (after >= m_size || isSpace(m_data[after]) || m_data[after] == '/'
                    || m_data[after] == '>'))
                return lt;
            from = lt + 1;
        }
    }

    // Past the end tag that begins at lt; -1 when the page ends first.
    qsizetype skipEndTag(qsizetype lt, std::string_view name) const
    {
        return finishTag(lt + 2 + qsizetype(name.size())).end;
    }

    // Past the element whose start tag ended at from, with same-named elements inside it
    // counted; -1 when the page ends first. Comments are skipped so that a tag in one does
    // not count.
    qsizetype skipElement(qsizetype from, std::string_view name, bool honourSelfClosing) const
    {
        int depth = 1;
        qsizetype i = from;
        while (true) {
            const qsizetype lt = find('<', i);
            if (lt < 0)
                return -1;
            if (matches(lt, "<!--")) {
                const qsizetype close = find("-->", lt + 2);
                if (close < 0)
                    return -1;
                i = close + 3;
            } else if (lt + 1 < m_size && m_data[lt + 1] == '/' && matches(lt + 2, name)
                && nameEnd(lt + 2) == lt + 2 + qsizetype(name.size())) {
                i = skipEndTag(lt, name);
                if (i < 0)
                    return -1;
                if (--depth == 0)
                    return i;
            } else if (matches(lt + 1, name) && nameEnd(lt + 1) == lt + 1 + qsizetype(name.size())) {
                const Tag tag = finishTag(lt + 1 + qsizetype(name.size()));
                if (tag.end < 0)
                    return -1;
                if (!(honourSelfClosing && tag.selfClosing))
                    ++depth;
                i = tag.end;
            } else {
                i = lt + 1;
            }
        }
    }

private:
    const char *m_data;
    qsizetype m_size;
};

bool isRawText(std::string_view name)
{
    // Their content is text to a browser (noscript too, as scripts run), so no tag in it counts.
    return name == "script" || name == "style" || name == "noscript" || name == "textarea" || name == "xmp"
        || name == "iframe" || name == "noembed" || name == "noframes";
}
} // namespace

HeadMarkup HeadMarkup::extract(QByteArrayView page)
{
    const Scanner scan(page);
    HeadMarkup result;
    QByteArray &out = result.markup;
    qsizetype windowMark = -1;
    bool haveTitle = false;

    auto append = [&](const char *bytes, qsizetype length) {
        if (out.size() + length > maxMarkupBytes) {
            result.capped = true;
            return false;
        }
        out.append(bytes, length);
        return true;
    };

    qsizetype pos = 0;
    while (pos < scan.size()) {
        const qsizetype lt = scan.find('<', pos);
        if (lt < 0) {
            pos = scan.size();
            break;
        }
        if (windowMark < 0 && lt >= headWindowBytes)
            windowMark = out.size();
        pos = lt;
        if (lt + 1 >= scan.size()) {
            pos = scan.size();
            break;
        }
        const char next = scan.at(lt + 1);
        if (scan.matches(lt, "<!--")) {
            const qsizetype close = scan.find("-->", lt + 2);
            pos = close < 0 ? scan.size() : close + 3;
            continue;
        }
        if (next == '!' || next == '?'
            || (next == '/' && !(lt + 2 < scan.size() && HtmlCharacters::isLetter(scan.at(lt + 2))))) {
            // Doctype, processing instruction or bogus comment: up to the next '>'.
            const qsizetype close = scan.find('>', lt + 1);
            pos = close < 0 ? scan.size() : close + 1;
            continue;
        }
        if (next == '/') {
            const Scanner::Tag tag = scan.finishTag(scan.nameEnd(lt + 2));
            pos = tag.end < 0 ? scan.size() : tag.end;
            continue;
        }
        if (!HtmlCharacters::isLetter(next)) {
            pos = lt + 1; // a '<' in text
            continue;
        }

        const qsizetype nameEnd = scan.nameEnd(lt + 1);
        char buffer[16];
        const std::string_view name = scan.lowerName(lt + 1, nameEnd, buffer);
        const Scanner::Tag tag = scan.finishTag(nameEnd);
        if (tag.end < 0) {
            pos = scan.size(); // a tag cut off by the end of the page is no tag
            break;
        }
        pos = tag.end;

        if (name == "body" || name == "frameset") {
            result.reachedBody = true;
            pos = lt;
            break;
        }
        if (name == "meta" || name == "link" || name == "base") {
            if (tag.attributes <= maxAttributes && !append(scan.data() + lt, tag.end - lt))
                break;
        } else if (name == "title") {
            const qsizetype close = scan.findEndTag(tag.end, "title");
            const qsizetype contentEnd = close < 0 ? scan.size() : close;
            if (!haveTitle) {
                haveTitle = true;
                // The content goes on as text, so '<' becomes a reference: the title then ends
                // exactly where it ends here, whatever follows.
                const qsizetype room = maxMarkupBytes - out.size();
                const qsizetype closing = 8; // "</title>"
                QByteArray title = "<title>";
                if (title.size() + closing > room) {
                    result.capped = true;
                    break;
                }
                for (qsizetype i = tag.end; i < contentEnd; ++i) {
                    if (title.size() + 4 + closing > room) {
                        result.capped = true;
                        break;
                    }
                    const char c = scan.at(i);
                    if (c == '<')
                        title.append("&lt;");
                    else
                        title.append(c);
                }
                title.append("</title>");
                out.append(title);
                if (result.capped)
                    break;
            }
            if (close < 0) {
                pos = scan.size();
                break;
            }
            pos = scan.skipEndTag(close, "title");
        } else if (isRawText(name)) {
            const qsizetype close = scan.findEndTag(tag.end, name);
            pos = close < 0 ? -1 : scan.skipEndTag(close, name);
        } else if (name == "plaintext") {
            pos = -1; // the rest of the page is text
        } else if (name == "svg" || name == "math") {
            // Foreign content has <title>s of its own.
            if (!tag.selfClosing)
                pos = scan.skipElement(tag.end, name, true);
        } else if (name == "template") {
            pos = scan.skipElement(tag.end, name, false); // inert until used
        }
        if (pos < 0) {
            pos = scan.size();
            break;
        }
    }

    result.scannedBytes = pos;
    if (!result.reachedBody && windowMark >= 0)
        out.truncate(windowMark);
    return result;
}
