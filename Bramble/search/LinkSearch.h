#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// Finding links by the words of a query, and the index that makes it fast.
//
// A link matches when every word of the query occurs in its title, address or summary after
// folding (SearchFolding). The store keeps the folded texts in search_text, and an FTS5 table
// with the trigram tokenizer over them, search_index, which answers words of three characters or
// more; shorter words are looked for in search_text directly. Both are written in the same
// transaction as the link itself (Writer), so the index is never out of step with the links.
//
// Ranking: each word counts 0 when found in the title, 1 in the address, 2 only in the summary;
// a lower sum comes first, then the link added last, then the higher identifier.
namespace LinkSearch {

// Words shorter than this are not looked up in the trigram index.
constexpr int trigramLength = 3;

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

// Creates the index tables and fills them from the links already stored; runs inside the
// caller's transaction (a schema upgrade, or the creation of a new store).
bool createIndex(QSqlDatabase &db, QString *error);

// The hits in ranking order, or nothing (and error set) when the store could not be read. A
// query without words finds nothing.
std::optional<QList<Hit>> find(QSqlDatabase &db, const Query &query, QString *error = nullptr);

// Keeps the index in step with the links, inside the transaction that writes them.
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
    bool write(QSqlQuery &query, const char *sql, bool *prepared, const QVariantList &values);

    QSqlDatabase m_db;
    QSqlQuery m_insert;
    QSqlQuery m_update;
    QSqlQuery m_remove;
    bool m_insertPrepared = false;
    bool m_updatePrepared = false;
    bool m_removePrepared = false;
    QString m_error;
};

} // namespace LinkSearch
