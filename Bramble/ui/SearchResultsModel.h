#pragma once

#include "search/LinkSearch.h"

#include <QAbstractListModel>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QStringList>
#include <memory>

class BookmarkItem;
class ModelContext;
class QThread;
class SearchWorker;

// The links that match the search field's text, best first, as a list model for the results
// view. Queries run on a thread of their own with their own connection to the store, so typing
// never waits for them; only the newest query is run and only its answer is shown. The results
// follow the library: every save reads the folded texts again and runs the query again.
class SearchResultsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles { ItemRole = Qt::UserRole + 1 };
    // More rows than anyone scrolls through; keeps a one-letter query as quick as a long one.
    static constexpr int resultLimit = 1000;

    explicit SearchResultsModel(ModelContext *context, QObject *parent = nullptr);
    ~SearchResultsModel() override;

    QString query() const { return m_query; }
    void setQuery(const QString &text);
    // The folded words of the query the rows answer, for highlighting.
    QStringList words() const { return m_words; }
    // The rows answer the current query from what is saved (false while it runs, and while
    // they come from the texts as they were before the last save).
    bool isCurrent() const { return m_answered == m_asked; }
    QString lastError() const { return m_error; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    BookmarkItem *itemAt(int row) const;
    int rowOf(const BookmarkItem *item) const;

Q_SIGNALS:
    // The rows now answer query().
    void resultsReady();

private:
    void ask();
    void receive(quint64 generation, const QString &query, const QList<LinkSearch::Hit> &hits,
        const QString &error, bool provisional);

    QPointer<ModelContext> m_context;
    QString m_query;
    QStringList m_words;
    QList<QPointer<BookmarkItem>> m_items;
    QString m_error;
    quint64 m_asked = 0;
    quint64 m_answered = 0;
    QThread *m_thread;
    SearchWorker *m_worker;
};
