#include "LinkSearch.h"

#include "SearchFolding.h"
#include "SearchIndex.h"

#include <QSqlError>
#include <QVariant>

namespace {

QString describe(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    if (error)
        *error = describe(query.lastError());
    return false;
}

// The columns are NOT NULL, and a null QString would be bound as NULL.
QString folded(const std::optional<QString> &text)
{
    const QString result = text ? SearchFolding::fold(*text) : QString();
    return result.isNull() ? QStringLiteral("") : result;
}

const char *const indexStatements[] = {
    "CREATE TABLE search_text (itemId INTEGER PRIMARY KEY REFERENCES items(id) ON DELETE CASCADE, "
    "title TEXT NOT NULL, address TEXT NOT NULL, summary TEXT NOT NULL)",
};

} // namespace

bool LinkSearch::createIndex(QSqlDatabase &db, QString *error)
{
    for (const char *statement : indexStatements) {
        if (!exec(db, QLatin1String(statement), error))
            return false;
    }
    QSqlQuery links(db);
    links.setForwardOnly(true);
    if (!links.exec(QStringLiteral("SELECT id, urlString, title, summary FROM items"))) {
        if (error)
            *error = describe(links.lastError());
        return false;
    }
    Writer writer(db);
    while (links.next()) {
        const auto optional = [](const QVariant &value) {
            return value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
        };
        if (!writer.insert(links.value(0).toLongLong(), links.value(1).toString(), optional(links.value(2)),
                optional(links.value(3)))) {
            if (error)
                *error = writer.lastError();
            return false;
        }
    }
    return true;
}

std::optional<QList<LinkSearch::Hit>> LinkSearch::find(QSqlDatabase &db, const Query &request, QString *error)
{
    if (SearchFolding::queryWords(request.text).isEmpty())
        return QList<Hit>();
    const std::shared_ptr<const SearchIndex> index = SearchIndex::load(db, error);
    if (!index)
        return std::nullopt;
    return index->find(request);
}

LinkSearch::Writer::Writer(QSqlDatabase db)
    : m_db(db)
{ }

SqlStatement &LinkSearch::Writer::statement(std::optional<SqlStatement> &slot, const char *sql)
{
    if (!slot)
        slot.emplace(m_db, sql);
    return *slot;
}

bool LinkSearch::Writer::run(SqlStatement &statement)
{
    if (statement.exec())
        return true;
    m_error = statement.lastError();
    return false;
}

bool LinkSearch::Writer::insert(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
    const std::optional<QString> &summary)
{
    SqlStatement &insert = statement(
        m_insert, "INSERT INTO search_text (itemId, title, address, summary) VALUES (?, ?, ?, ?)");
    insert.bind(0, itemId);
    insert.bind(1, folded(title));
    insert.bind(2, folded(urlString));
    insert.bind(3, folded(summary));
    return run(insert);
}

bool LinkSearch::Writer::update(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
    const std::optional<QString> &summary)
{
    SqlStatement &update
        = statement(m_update, "UPDATE search_text SET title = ?, address = ?, summary = ? WHERE itemId = ?");
    update.bind(0, folded(title));
    update.bind(1, folded(urlString));
    update.bind(2, folded(summary));
    update.bind(3, itemId);
    return run(update);
}

bool LinkSearch::Writer::remove(qint64 itemId)
{
    SqlStatement &remove = statement(m_remove, "DELETE FROM search_text WHERE itemId = ?");
    remove.bind(0, itemId);
    return run(remove);
}
