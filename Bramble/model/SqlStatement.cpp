#include "SqlStatement.h"

#include <QSqlDriver>
#include <QVariant>
#include <sqlite3.h>

sqlite3 *SqlStatement::handleOf(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

SqlStatement::SqlStatement(const QSqlDatabase &db, const char *sql)
    : m_db(db.isOpen() ? handleOf(db) : nullptr)
{
    if (!m_db) {
        m_error = QStringLiteral("The store is not open");
        return;
    }
    if (sqlite3_prepare_v2(m_db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(m_statement);
}

void SqlStatement::bind(int index, qint64 value)
{
    if (m_statement)
        sqlite3_bind_int64(m_statement, index + 1, value);
}

void SqlStatement::bind(int index, const QString &text)
{
    keep(text.toUtf8(), index, true);
}

void SqlStatement::bind(int index, const std::optional<QString> &text)
{
    if (text)
        bind(index, *text);
    else
        bindNull(index);
}

void SqlStatement::bind(int index, const QByteArray &blob)
{
    keep(blob, index, false);
}

void SqlStatement::bindNull(int index)
{
    if (m_statement)
        sqlite3_bind_null(m_statement, index + 1);
}

void SqlStatement::keep(QByteArray bytes, int index, bool asText)
{
    if (!m_statement)
        return;
    m_held.push_back(std::move(bytes));
    const QByteArray &held = m_held.back();
    // constData() of an empty array is "", so an empty text is bound as empty, not NULL.
    if (asText)
        sqlite3_bind_text(m_statement, index + 1, held.constData(), int(held.size()), SQLITE_STATIC);
    else
        sqlite3_bind_blob(m_statement, index + 1, held.constData(), int(held.size()), SQLITE_STATIC);
}

bool SqlStatement::exec()
{
    if (!m_statement)
        return false;
    int status = SQLITE_ROW;
    while (status == SQLITE_ROW)
        status = sqlite3_step(m_statement);
    const bool ok = status == SQLITE_DONE;
    if (!ok)
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_held.clear();
    return ok;
}
