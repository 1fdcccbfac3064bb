#include "SearchFolding.h"

#include <algorithm>

namespace {

// Folds one code point into out; latinBase says whether the last letter kept was Latin, whose
// following combining marks are accents to drop.
void foldCodePoint(char32_t c, QString &out, QList<int> *origins, int origin, bool &latinBase, int depth = 0)
{
    const auto append = [&](char32_t u) {
        const QString folded = QString::fromUcs4(&u, 1).toCaseFolded();
        out += folded;
        if (origins) {
            for (qsizetype i = 0; i < folded.size(); ++i)
                origins->append(origin);
        }
    };
    if (c < 0x80) {
        const char16_t lower = c >= 'A' && c <= 'Z' ? char16_t(c + 32) : char16_t(c);
        out += QChar(lower);
        if (origins)
            origins->append(origin);
        latinBase = (lower >= 'a' && lower <= 'z');
        return;
    }
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing) {
        if (!latinBase)
            append(c);
        return;
    }
    const QChar::Decomposition tag = QChar::decompositionTag(c);
    const bool latin = QChar::script(c) == QChar::Script_Latin;
    if (tag == QChar::NoDecomposition || depth > 4 || (tag == QChar::Canonical && !latin)) {
        append(c);
        latinBase = latin;
        return;
    }
    // A canonical decomposition of a Latin letter (é -> e + accent) or any compatibility form
    // (full-width Ａ -> A, half-width ｶ -> カ, ligatures): fold its parts.
    const QList<uint> parts = QChar::decomposition(c).toUcs4();
    for (const uint part : parts)
        foldCodePoint(part, out, origins, origin, latinBase, depth + 1);
}

SearchFolding::Folded foldImpl(const QString &text, bool withOrigins)
{
    SearchFolding::Folded result;
    result.text.reserve(text.size());
    if (withOrigins)
        result.origins.reserve(text.size());
    bool latinBase = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int origin = int(i);
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        foldCodePoint(c, result.text, withOrigins ? &result.origins : nullptr, origin, latinBase);
    }
    return result;
}

} // namespace

QString SearchFolding::fold(const QString &text)
{
    // Most addresses and many titles are plain ASCII: no table look-ups for them.
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLower();
    return foldImpl(text, false).text;
}

SearchFolding::Folded SearchFolding::foldWithOrigins(const QString &text)
{
    return foldImpl(text, true);
}

QStringList SearchFolding::queryWords(const QString &query)
{
    const QString folded = fold(query);
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= folded.size(); ++i) {
        const bool space = i == folded.size() || folded.at(i).isSpace();
        if (space && start >= 0) {
            const QString word = folded.mid(start, i - start);
            if (!words.contains(word))
                words << word;
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return words;
}

QList<SearchFolding::Range> SearchFolding::matches(const QString &text, const QStringList &foldedWords)
{
    QList<Range> ranges;
    if (text.isEmpty() || foldedWords.isEmpty())
        return ranges;
    const Folded folded = foldWithOrigins(text);
    for (const QString &word : foldedWords) {
        if (word.isEmpty())
            continue;
        qsizetype at = 0;
        while ((at = folded.text.indexOf(word, at)) >= 0) {
            const int last = folded.origins.at(at + word.size() - 1);
            int end = last + (text.at(last).isHighSurrogate() ? 2 : 1);
            // Accents the folding dropped belong to the letter they sit on.
            while (end < text.size() && text.at(end).category() == QChar::Mark_NonSpacing)
                ++end;
            ranges.append({ folded.origins.at(at), end });
            at += word.size();
        }
    }
    std::sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.start < b.start; });
    QList<Range> merged;
    for (const Range &range : std::as_const(ranges)) {
        if (!merged.isEmpty() && range.start <= merged.last().end)
            merged.last().end = std::max(merged.last().end, range.end);
        else
            merged.append(range);
    }
    return merged;
}
