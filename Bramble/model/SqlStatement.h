#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A statement prepared straight on the SQLite connection behind a QSqlDatabase, for the ones a
// save runs thousands of times: QtSql's binding costs several times what SQLite's own work does.
// It runs inside whatever transaction the connection has open. Indexes count from 0.
class SqlStatement
{
public:
    SqlStatement(const QSqlDatabase &db, const char *sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }
    // The SQLite connection behind db, or null when it is not an open SQLite connection.
    static sqlite3 *handleOf(const QSqlDatabase &db);

    void bind(int index, qint64 value);
    // A present text is never NULL, even when built as a null QString.
    void bind(int index, const QString &text);
    // NULL when absent.
    void bind(int index, const std::optional<QString> &text);
    void bind(int index, const QByteArray &blob);
    void bindNull(int index);

    // Runs the statement with the values bound since the last run, then forgets them.
    bool exec();
    // SQLite's own words ("database is locked").
    QString lastError() const { return m_error; }

private:
    void keep(QByteArray bytes, int index, bool asText);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    // Bound texts and blobs live here until the run, so SQLite need not copy them.
    std::vector<QByteArray> m_held;
    QString m_error;
};
