#pragma once

#include "search/LinkSearch.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <optional>
#include <vector>

// The design the store does not use, kept here to be measured against it: an FTS5 table with
// the trigram tokenizer over the same folded texts, searched with the same matching and ranking
// as SearchIndex, so that the two can be compared hit for hit.
class Fts5Trigram
{
public:
    struct Link
    {
        qint64 id = 0;
        QString address;
        std::optional<QString> title;
        std::optional<QString> summary;
    };

    explicit Fts5Trigram(QSqlDatabase db);

    static std::vector<Link> readLinks(QSqlDatabase &db, QString *error);
    // The trigram tokenizer counts code points; shorter words have no trigram to look up.
    static bool answerable(const QString &foldedWord);

    bool create(QString *error);
    // Folds the link's texts and adds them, inside the caller's transaction.
    bool insert(const Link &link, QString *error);

    // Hits in the order SearchIndex gives them. Words of three characters or more are looked up
    // in the index; shorter ones are checked on the rows it finds, and a query of short words
    // only scans the whole table (*scanned set).
    std::optional<QList<LinkSearch::Hit>> find(
        const QString &text, int limit, bool *scanned, QString *error) const;

private:
    QSqlDatabase m_db;
    QSqlQuery m_insert;
    bool m_prepared = false;
};
