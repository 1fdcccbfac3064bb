#include "SearchIndex.h"

#include "SearchFolding.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <emmintrin.h>

namespace {

struct Candidate
{
    int rank;
    qint64 createdAt;
    qint64 itemId;
    bool operator<(const Candidate &other) const
    {
        if (rank != other.rank)
            return rank < other.rank;
        if (createdAt != other.createdAt)
            return createdAt > other.createdAt;
        return itemId > other.itemId;
    }
};

// The first occurrence of needle in [begin, end). Sixteen places at a time compare the first and
// the last byte of the needle, and only where both agree the bytes between: several times as fast
// as memmem on text like ours, where most bytes are a few dozen letters.
const char *findBytes(const char *begin, const char *end, const QByteArray &needle)
{
    const size_t length = size_t(needle.size());
    const size_t size = size_t(end - begin);
    if (length == 0 || size < length)
        return length == 0 ? begin : nullptr;
    const char *word = needle.constData();
    if (length == 1)
        return static_cast<const char *>(std::memchr(begin, word[0], size));
    const __m128i first = _mm_set1_epi8(word[0]);
    const __m128i last = _mm_set1_epi8(word[length - 1]);
    size_t i = 0;
    for (; i + length - 1 + 16 <= size; i += 16) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(begin + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(begin + i + length - 1));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (std::memcmp(begin + i + bit + 1, word + 1, length - 2) == 0)
                return begin + i + bit;
            mask &= mask - 1;
        }
    }
    for (; i + length <= size; ++i) {
        if (begin[i] == word[0] && std::memcmp(begin + i, word, length) == 0)
            return begin + i;
    }
    return nullptr;
}

bool contains(const char *begin, const char *end, const QByteArray &word)
{
    return findBytes(begin, end, word) != nullptr;
}

} // namespace

std::shared_ptr<const SearchIndex> SearchIndex::load(QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT s.itemId, i.createdAt, i.groupId, s.title, s.address, s.summary "
                                   "FROM search_text s JOIN items i ON i.id = s.itemId"))) {
        if (error)
            *error = query.lastError().databaseText().isEmpty() ? query.lastError().text()
                                                                : query.lastError().databaseText();
        return nullptr;
    }
    auto index = std::make_shared<SearchIndex>();
    index->m_text.reserve(16 * 1024 * 1024);
    while (query.next()) {
        Row row;
        row.itemId = query.value(0).toLongLong();
        row.createdAt = query.value(1).toLongLong();
        row.groupId = query.value(2).isNull() ? 0 : query.value(2).toLongLong();
        // A separator no folded text holds keeps a word from running across two fields.
        row.title = quint32(index->m_text.size());
        index->m_text += query.value(3).toString().toUtf8() + '\0';
        row.address = quint32(index->m_text.size());
        index->m_text += query.value(4).toString().toUtf8() + '\0';
        row.summary = quint32(index->m_text.size());
        index->m_text += query.value(5).toString().toUtf8() + '\0';
        row.end = quint32(index->m_text.size());
        index->m_rows.push_back(row);
    }
    return index;
}

QList<LinkSearch::Hit> SearchIndex::find(const LinkSearch::Query &request) const
{
    QList<QByteArray> words;
    for (const QString &word : SearchFolding::queryWords(request.text))
        words << word.toUtf8();
    if (words.isEmpty() || m_rows.empty())
        return {};
    // The longest word is the rarest, so it is the one the whole text is scanned for.
    std::stable_sort(words.begin(), words.end(),
        [](const QByteArray &a, const QByteArray &b) { return a.size() > b.size(); });
    const QByteArray &scanned = words.first();
    const char *text = m_text.constData();
    const char *const textEnd = text + m_text.size();

    std::vector<Candidate> found;
    size_t row = 0;
    const char *at = text;
    while (at < textEnd) {
        const char *hit = findBytes(at, textEnd, scanned);
        if (!hit)
            break;
        const quint32 offset = quint32(hit - text);
        // Rows lie in order in the text: move forward to the one holding the hit.
        while (m_rows[row].end <= offset)
            ++row;
        const Row &candidate = m_rows[row];
        at = text + candidate.end;
        if (!request.groupIds.isEmpty() && !request.groupIds.contains(candidate.groupId))
            continue;
        int rank = 0;
        bool all = true;
        for (const QByteArray &word : std::as_const(words)) {
            if (contains(text + candidate.title, text + candidate.address, word))
                continue;
            if (contains(text + candidate.address, text + candidate.summary, word)) {
                rank += 1;
                continue;
            }
            if (contains(text + candidate.summary, text + candidate.end, word)) {
                rank += 2;
                continue;
            }
            all = false;
            break;
        }
        if (all)
            found.push_back({ rank, candidate.createdAt, candidate.itemId });
    }

    const size_t wanted = request.limit > 0 ? std::min(found.size(), size_t(request.limit)) : found.size();
    if (wanted < found.size()) {
        std::nth_element(found.begin(), found.begin() + qsizetype(wanted), found.end());
        found.resize(wanted);
    }
    std::sort(found.begin(), found.end());
    QList<LinkSearch::Hit> hits;
    hits.reserve(qsizetype(found.size()));
    for (const Candidate &candidate : found)
        hits.append({ candidate.itemId, candidate.rank });
    return hits;
}
