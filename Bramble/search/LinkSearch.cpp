#include "LinkSearch.h"

#include "SearchFolding.h"

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

QString folded(const std::optional<QString> &text)
{
    return text ? SearchFolding::fold(*text) : QStringLiteral("");
}

// The texts are folded already, so the tokenizer need not fold case again. The triggers are
// the usual ones for an FTS5 table whose content lives in another table.
const char *const indexStatements[] = {
    "CREATE TABLE search_text (itemId INTEGER PRIMARY KEY REFERENCES items(id) ON DELETE CASCADE, "
    "title TEXT NOT NULL, address TEXT NOT NULL, summary TEXT NOT NULL)",
    "CREATE VIRTUAL TABLE search_index USING fts5(title, address, summary, content='search_text', "
    "content_rowid='itemId', tokenize='trigram case_sensitive 1')",
    "CREATE TRIGGER search_text_inserted AFTER INSERT ON search_text BEGIN "
    "INSERT INTO search_index (rowid, title, address, summary) "
    "VALUES (new.itemId, new.title, new.address, new.summary); END",
    "CREATE TRIGGER search_text_deleted AFTER DELETE ON search_text BEGIN "
    "INSERT INTO search_index (search_index, rowid, title, address, summary) "
    "VALUES ('delete', old.itemId, old.title, old.address, old.summary); END",
    "CREATE TRIGGER search_text_updated AFTER UPDATE ON search_text BEGIN "
    "INSERT INTO search_index (search_index, rowid, title, address, summary) "
    "VALUES ('delete', old.itemId, old.title, old.address, old.summary); "
    "INSERT INTO search_index (rowid, title, address, summary) "
    "VALUES (new.itemId, new.title, new.address, new.summary); END",
};

QString phrase(const QString &word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

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
    const QStringList words = SearchFolding::queryWords(request.text);
    if (words.isEmpty())
        return QList<Hit>();
    QStringList indexed;
    QStringList scanned;
    for (const QString &word : words)
        (SearchFolding::characterCount(word) >= trigramLength ? indexed : scanned) << word;

    QStringList ranks;
    QVariantList values;
    for (const QString &word : words) {
        ranks << QStringLiteral("(CASE WHEN instr(s.title, ?) > 0 THEN 0 WHEN instr(s.address, ?) > 0 THEN 1 "
                                "ELSE 2 END)");
        values << word << word;
    }
    QString sql = QStringLiteral("SELECT s.itemId, %1 AS rank FROM ").arg(ranks.join(QLatin1Char('+')));
    QStringList conditions;
    if (!indexed.isEmpty()) {
        sql += QStringLiteral("search_index JOIN search_text s ON s.itemId = search_index.rowid ");
        QStringList phrases;
        for (const QString &word : std::as_const(indexed))
            phrases << phrase(word);
        conditions << QStringLiteral("search_index MATCH ?");
        values << phrases.join(QStringLiteral(" AND "));
    } else {
        sql += QStringLiteral("search_text s ");
    }
    sql += QStringLiteral("JOIN items i ON i.id = s.itemId");
    for (const QString &word : std::as_const(scanned)) {
        conditions << QStringLiteral(
            "(instr(s.title, ?) > 0 OR instr(s.address, ?) > 0 OR instr(s.summary, ?) > 0)");
        values << word << word << word;
    }
    if (!request.groupIds.isEmpty()) {
        QStringList marks;
        for (const qint64 id : request.groupIds) {
            marks << QStringLiteral("?");
            values << id;
        }
        conditions << QStringLiteral("i.groupId IN (%1)").arg(marks.join(QLatin1Char(',')));
    }
    sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY rank, i.createdAt DESC, i.id DESC");
    if (request.limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        values << request.limit;
    }

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        if (error)
            *error = describe(query.lastError());
        return std::nullopt;
    }
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    if (!query.exec()) {
        if (error)
            *error = describe(query.lastError());
        return std::nullopt;
    }
    QList<Hit> hits;
    while (query.next())
        hits.append({ query.value(0).toLongLong(), query.value(1).toInt() });
    return hits;
}

LinkSearch::Writer::Writer(QSqlDatabase db)
    : m_db(db)
    , m_insert(db)
    , m_update(db)
    , m_remove(db)
{ }

bool LinkSearch::Writer::write(QSqlQuery &query, const char *sql, bool *prepared, const QVariantList &values)
{
    if (!*prepared) {
        if (!query.prepare(QLatin1String(sql))) {
            m_error = describe(query.lastError());
            return false;
        }
        *prepared = true;
    }
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    if (!query.exec()) {
        m_error = describe(query.lastError());
        return false;
    }
    return true;
}

bool LinkSearch::Writer::insert(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
    const std::optional<QString> &summary)
{
    return write(m_insert, "INSERT INTO search_text (itemId, title, address, summary) VALUES (?, ?, ?, ?)",
        &m_insertPrepared, { itemId, folded(title), SearchFolding::fold(urlString), folded(summary) });
}

bool LinkSearch::Writer::update(qint64 itemId, const QString &urlString, const std::optional<QString> &title,
    const std::optional<QString> &summary)
{
    return write(m_update, "UPDATE search_text SET title = ?, address = ?, summary = ? WHERE itemId = ?",
        &m_updatePrepared, { folded(title), SearchFolding::fold(urlString), folded(summary), itemId });
}

bool LinkSearch::Writer::remove(qint64 itemId)
{
    return write(m_remove, "DELETE FROM search_text WHERE itemId = ?", &m_removePrepared, { itemId });
}
