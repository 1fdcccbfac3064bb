#include "ui/SearchResultsModel.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContext.h"
#include "search/SearchFolding.h"
#include "search/SearchIndex.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <atomic>

// Lives on the search thread; holds the newest request only, so a burst of keystrokes runs
// one query, not one per key.
class SearchWorker : public QObject
{
    Q_OBJECT

public:
    explicit SearchWorker(const QString &path)
        : m_path(path)
    { }
    ~SearchWorker() override
    {
        if (m_connection.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }

    // The store has changed: the next query reads the texts afresh.
    void invalidate() { m_stale = true; }

    void post(quint64 generation, const QString &query)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_pending = { generation, query };
            m_hasPending = true;
        }
        QMetaObject::invokeMethod(this, &SearchWorker::runPending, Qt::QueuedConnection);
    }

Q_SIGNALS:
    // provisional: found in the texts as they were before the last save; the answer from the
    // saved ones follows.
    void answered(quint64 generation, const QString &query, const QList<LinkSearch::Hit> &hits,
        const QString &error, bool provisional);

private:
    struct Request
    {
        quint64 generation = 0;
        QString query;
    };

    void runPending()
    {
        Request request;
        {
            QMutexLocker lock(&m_mutex);
            if (!m_hasPending)
                return;
            request = m_pending;
            m_hasPending = false;
        }
        QString error;
        QList<LinkSearch::Hit> hits;
        const bool words = !SearchFolding::queryWords(request.query).isEmpty();
        // The texts are read once and again only after a save, not for every keystroke. Cleared
        // before reading: a save meanwhile makes the next query read again.
        const bool stale = m_stale.exchange(false);
        // Reading them takes a few hundred milliseconds at 100,000 links: the texts read before
        // the save answer at once, and the fresh ones a moment later.
        if (stale && m_index && words)
            Q_EMIT answered(request.generation, request.query,
                m_index->find({ request.query, {}, SearchResultsModel::resultLimit }), QString(), true);
        if (stale || !m_index) {
            QSqlDatabase db = connection(&error);
            m_index = db.isOpen() ? SearchIndex::load(db, &error) : nullptr;
        }
        if (m_index && words)
            hits = m_index->find({ request.query, {}, SearchResultsModel::resultLimit });
        Q_EMIT answered(request.generation, request.query, hits, error, false);
    }

    QSqlDatabase connection(QString *error)
    {
        static QAtomicInt counter;
        if (m_connection.isEmpty()) {
            m_connection = QStringLiteral("bramble-search-%1").arg(counter.fetchAndAddRelaxed(1));
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(m_path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"));
            if (!db.open())
                *error = db.lastError().text();
        }
        return QSqlDatabase::database(m_connection, false);
    }

    QString m_path;
    QString m_connection;
    std::shared_ptr<const SearchIndex> m_index;
    std::atomic<bool> m_stale { true };
    QMutex m_mutex;
    Request m_pending;
    bool m_hasPending = false;
};

SearchResultsModel::SearchResultsModel(ModelContext *context, QObject *parent)
    : QAbstractListModel(parent)
    , m_context(context)
    , m_thread(new QThread(this))
    , m_worker(new SearchWorker(context ? context->storePath() : QString()))
{
    qRegisterMetaType<QList<LinkSearch::Hit>>();
    m_thread->setObjectName(QStringLiteral("Bramble search"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &SearchWorker::answered, this, &SearchResultsModel::receive, Qt::QueuedConnection);
    m_thread->start();
    if (context) {
        // What the search thread reads is what has been saved.
        connect(context, &ModelContext::saved, this, [this] {
            m_worker->invalidate();
            if (!m_words.isEmpty())
                ask();
        });
        connect(context, &ModelContext::itemAboutToBeRemoved, this, [this](BookmarkItem *item) {
            const int row = rowOf(item);
            if (row < 0)
                return;
            beginRemoveRows(QModelIndex(), row, row);
            m_items.removeAt(row);
            endRemoveRows();
        });
        connect(context, &ModelContext::itemFieldsChanged, this, [this](BookmarkItem *item, int) {
            const int row = rowOf(item);
            if (row >= 0)
                Q_EMIT dataChanged(index(row), index(row));
        });
    }
}

SearchResultsModel::~SearchResultsModel()
{
    m_thread->quit();
    m_thread->wait();
}

void SearchResultsModel::setQuery(const QString &text)
{
    if (text == m_query)
        return;
    m_query = text;
    m_words = SearchFolding::queryWords(text);
    if (m_words.isEmpty()) {
        ++m_asked;
        m_answered = m_asked;
        beginResetModel();
        m_items.clear();
        endResetModel();
        Q_EMIT resultsReady();
        return;
    }
    ask();
}

void SearchResultsModel::ask()
{
    m_worker->post(++m_asked, m_query);
}

void SearchResultsModel::receive(quint64 generation, const QString &query, const QList<LinkSearch::Hit> &hits,
    const QString &error, bool provisional)
{
    // An answer to a query typed over meanwhile is of no use.
    if (generation != m_asked || query != m_query || !m_context)
        return;
    if (!provisional)
        m_answered = generation;
    m_error = error;
    beginResetModel();
    m_items.clear();
    m_items.reserve(hits.size());
    for (const LinkSearch::Hit &hit : hits) {
        // Links of an import not yet finished are not shown anywhere else either.
        if (BookmarkItem *item = m_context->item(hit.itemId))
            m_items.append(item);
    }
    endResetModel();
    Q_EMIT resultsReady();
}

int SearchResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant SearchResultsModel::data(const QModelIndex &index, int role) const
{
    BookmarkItem *item = itemAt(index.row());
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return item->title().value_or(item->urlString());
    case ItemRole:
        return QVariant::fromValue(item);
    default:
        return {};
    }
}

BookmarkItem *SearchResultsModel::itemAt(int row) const
{
    return row >= 0 && row < m_items.size() ? m_items.at(row).data() : nullptr;
}

int SearchResultsModel::rowOf(const BookmarkItem *item) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i) == item)
            return int(i);
    }
    return -1;
}

#include "SearchResultsModel.moc"
