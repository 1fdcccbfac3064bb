#include "Fts5Trigram.h"

#include "search/SearchFolding.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

QString describe(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

QString folded(const std::optional<QString> &text)
{
    const QString result = text ? SearchFolding::fold(*text) : QString();
    return result.isNull() ? QStringLiteral("") : result;
}

} // namespace

Fts5Trigram::Fts5Trigram(QSqlDatabase db)
    : m_db(db)
    , m_insert(db)
{ }

std::vector<Fts5Trigram::Link> Fts5Trigram::readLinks(QSqlDatabase &db, QString *error)
{
    std::vector<Link> links;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, urlString, title, summary FROM items"))) {
        *error = describe(query.lastError());
        return links;
    }
    const auto optional = [](const QVariant &value) {
        return value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
    };
    while (query.next())
        links.push_back({ query.value(0).toLongLong(), query.value(1).toString(), optional(query.value(2)),
            optional(query.value(3)) });
    return links;
}

bool Fts5Trigram::answerable(const QString &foldedWord)
{
    return foldedWord.toUcs4().size() >= 3;
}

bool Fts5Trigram::create(QString *error)
{
    // The texts are folded already: a tokenizer folding case again, by rules of its own, could
    // only make its matches differ from SearchFolding's.
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("CREATE VIRTUAL TABLE link_fts USING fts5(title, address, summary, "
                                  "tokenize = 'trigram case_sensitive 1')")))
        return true;
    *error = describe(query.lastError());
    return false;
}

bool Fts5Trigram::insert(const Link &link, QString *error)
{
    if (!m_prepared) {
        if (!m_insert.prepare(QStringLiteral(
                "INSERT INTO link_fts (rowid, title, address, summary) VALUES (?, ?, ?, ?)"))) {
            *error = describe(m_insert.lastError());
            return false;
        }
        m_prepared = true;
    }
    m_insert.bindValue(0, link.id);
    m_insert.bindValue(1, folded(link.title));
    m_insert.bindValue(2, folded(link.address));
    m_insert.bindValue(3, folded(link.summary));
    if (m_insert.exec())
        return true;
    *error = describe(m_insert.lastError());
    return false;
}

std::optional<QList<LinkSearch::Hit>> Fts5Trigram::find(
    const QString &text, int limit, bool *scanned, QString *error) const
{
    const QStringList words = SearchFolding::queryWords(text);
    *scanned = false;
    if (words.isEmpty())
        return QList<LinkSearch::Hit>();
    QStringList phrases;
    QStringList shortWords;
    for (const QString &word : words) {
        if (answerable(word))
            phrases << QLatin1Char('"') + QString(word).replace(QLatin1Char('"'), QStringLiteral("\"\""))
                    + QLatin1Char('"');
        else
            shortWords << word;
    }
    *scanned = phrases.isEmpty();

    // Which column a word is in decides its share of the rank, as in SearchIndex: instr() on the
    // rows found gives that exactly, where bm25 weights would mix in word frequency and length.
    QStringList rankParts;
    for (qsizetype i = 0; i < words.size(); ++i)
        rankParts << QStringLiteral("(CASE WHEN instr(f.title, ?) > 0 THEN 0 "
                                    "WHEN instr(f.address, ?) > 0 THEN 1 ELSE 2 END)");
    QStringList conditions;
    if (!phrases.isEmpty())
        // With an alias, the table's hidden column of its own name is what MATCH takes.
        conditions << QStringLiteral("f.link_fts MATCH ?");
    for (qsizetype i = 0; i < shortWords.size(); ++i)
        conditions << QStringLiteral("(instr(f.title, ?) > 0 OR instr(f.address, ?) > 0 "
                                     "OR instr(f.summary, ?) > 0)");
    const QString sql
        = QStringLiteral("SELECT f.rowid, %1 AS r FROM link_fts f JOIN items i ON i.id = f.rowid "
                         "WHERE %2 ORDER BY r, i.createdAt DESC, f.rowid DESC LIMIT ?")
              .arg(rankParts.join(QStringLiteral(" + ")), conditions.join(QStringLiteral(" AND ")));

    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        *error = describe(query.lastError());
        return std::nullopt;
    }
    for (const QString &word : words) {
        query.addBindValue(word);
        query.addBindValue(word);
    }
    if (!phrases.isEmpty())
        query.addBindValue(phrases.join(QStringLiteral(" AND ")));
    for (const QString &word : std::as_const(shortWords)) {
        query.addBindValue(word);
        query.addBindValue(word);
        query.addBindValue(word);
    }
    query.addBindValue(limit > 0 ? limit : -1);
    if (!query.exec()) {
        *error = describe(query.lastError());
        return std::nullopt;
    }
    QList<LinkSearch::Hit> hits;
    while (query.next())
        hits.append({ query.value(0).toLongLong(), query.value(1).toInt() });
    return hits;
}
