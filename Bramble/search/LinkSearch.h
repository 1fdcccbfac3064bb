#pragma once

#include "model/SqlStatement.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// Finding links by the words of a query.
//
// A link matches when every word of the query occurs in its title, address or summary after
// folding (SearchFolding), anywhere in them: Chinese, Japanese and Korean text has no spaces
// between words. The store keeps the folded texts in search_text, written by Writer in the same
// transaction as the link itself, so they are never out of step with the links; a search scans
// them in memory (SearchIndex).
//
// Ranking: each word counts 0 when found in the title, 1 in the address, 2 only in the summary;
// a lower sum comes first, then the link added last, then the higher identifier.
namespace LinkSearch {

struct Hit
{
    qint64 itemId = 0;
    int rank = 0;
};

struct Query
{
    QString text;
    // Only links of these groups; empty for every group.
    QList<qint64> groupIds;
    // At most this many hits; 0 for all of them.
    int limit = 0;
};

// Creates the table of folded texts and fills it from the links already stored; runs inside
// the caller's transaction (a schema upgrade, or the creation of a new store).
bool createIndex(QSqlDatabase &db, QString *error);

// The hits in ranking order, or nothing (and error set) when the store could not be read. A
// query without words finds nothing. Reads every folded text: to search again and again, load a
// SearchIndex once.
std::optional<QList<Hit>> find(QSqlDatabase &db, const Query &query, QString *error = nullptr);

// Keeps the folded texts in step with the links, inside the transaction that writes them.
class Writer
{
public:
    explicit Writer(QSqlDatabase db);
    bool insert(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
        const std::optional<QString> &summary);
    bool update(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
        const std::optional<QString> &summary);
    bool remove(qint64 itemId);
    QString lastError() const { return m_error; }

private:
    SqlStatement &statement(std::optional<SqlStatement> &slot, const char *sql);
    bool run(SqlStatement &statement);

    QSqlDatabase m_db;
    std::optional<SqlStatement> m_insert;
    std::optional<SqlStatement> m_update;
    std::optional<SqlStatement> m_remove;
    QString m_error;
};

} // namespace LinkSearch
