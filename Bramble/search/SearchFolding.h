#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The one way texts and queries are brought to a comparable form, so that what the index holds
// and what a query asks for always agree. Latin letters lose case, accents and width ("Ｃａｆé"
// and "cafe" fold alike); other scripts keep their letters and marks (Japanese voicing marks,
// Hangul syllables) and only lose case and compatibility forms (half-width katakana), so that
// Chinese, Japanese and Korean text still matches by substring.
namespace SearchFolding {

QString fold(const QString &text);

// The folded text together with, for each of its UTF-16 units, the index in the original text
// of the character it came from: what highlighting needs to mark the original.
struct Folded
{
    QString text;
    QList<int> origins;
};
Folded foldWithOrigins(const QString &text);

// The query's words, folded, split on white space, without repeats, in the order typed.
QStringList queryWords(const QString &query);

// Where the words occur in text, as [start, end) ranges of the original text, sorted and merged.
struct Range
{
    int start = 0;
    int end = 0;
    bool operator==(const Range &other) const = default;
};
QList<Range> matches(const QString &text, const QStringList &foldedWords);

} // namespace SearchFolding
