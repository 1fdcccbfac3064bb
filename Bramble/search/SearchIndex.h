#pragma once

#include "LinkSearch.h"

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <vector>

// The folded texts of every link in memory, one block of UTF-8, searched by scanning it. At
// 100,000 links the block is about 20 MB and a scan takes a few milliseconds; the trigram index
// of SQLite's FTS5 (measured beside it by bench_search) is 4 to 20 times slower per query, makes
// an import over ten times slower, and cannot find one or two characters.
// A snapshot: it does not change once loaded, so any thread may search it.
class SearchIndex
{
public:
    // Reads the folded texts the store keeps (search_text) with each link's group and date.
    static std::shared_ptr<const SearchIndex> load(QSqlDatabase &db, QString *error = nullptr);

    int size() const { return int(m_rows.size()); }
    qint64 memoryBytes() const { return qint64(m_text.capacity()) + qint64(m_rows.capacity() * sizeof(Row)); }
    QList<LinkSearch::Hit> find(const LinkSearch::Query &query) const;

private:
    struct Row
    {
        qint64 itemId;
        qint64 createdAt;
        qint64 groupId;
        // Offsets into m_text: title, address and summary follow each other.
        quint32 title;
        quint32 address;
        quint32 summary;
        quint32 end;
    };

    std::vector<Row> m_rows;
    QByteArray m_text;
};
