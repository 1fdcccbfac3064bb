#include "ModelContext.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "SqlStatement.h"
#include "search/LinkSearch.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cstdio>

namespace {

std::optional<QString> readNullableText(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toString();
}

qint64 toStored(const QDateTime &date)
{
    return date.isValid() ? date.toMSecsSinceEpoch() : 0;
}

QDateTime fromStored(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

// How long the last save waits for another connection to let go of the file.
constexpr std::chrono::milliseconds quitPatience { 10000 };
// How long any other save waits for it: on the main thread, so only a moment.
constexpr std::chrono::milliseconds savePatience { 25 };

bool setBusyTimeout(const QString &connectionName, std::chrono::milliseconds timeout)
{
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    return db.isOpen()
        && QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(qint64(timeout.count())));
}

QString describe(const QSqlQuery &query)
{
    // SQLite's own words ("database is locked"), without the driver's ("Unable to fetch row").
    const QSqlError error = query.lastError();
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

template<typename T> QList<T *> sortedById(const QHash<qint64, T *> &objects)
{
    QList<T *> list = objects.values();
    std::sort(list.begin(), list.end(), [](T *a, T *b) { return a->id() < b->id(); });
    return list;
}

} // namespace

ModelContext::ModelContext(const QString &connectionName, QObject *parent)
    : QObject(parent)
    , m_connectionName(connectionName)
    , m_retryTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (hasChanges())
            save();
        else
            noteSaveSuccess();
    });
    if (auto *app = QCoreApplication::instance()) {
        // Nothing the user did before quitting may be lost, even if the file is busy then.
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (hasChanges())
                saveWaiting(quitPatience);
        });
    }
}

ModelContext::~ModelContext() = default;

QString ModelContext::storePath() const
{
    return QSqlDatabase::database(m_connectionName, false).databaseName();
}

QList<BookmarkGroup *> ModelContext::groups() const
{
    return sortedById(m_groups);
}

QList<BookmarkItem *> ModelContext::items() const
{
    return sortedById(m_items);
}

void ModelContext::insert(BookmarkGroup *group)
{
    if (!group || group->m_deleted || group->m_context == this)
        return;
    Q_ASSERT(!group->m_context);
    group->m_context = this;
    group->m_id = m_nextGroupId++;
    group->setParent(this);
    m_groups.insert(group->m_id, group);
    m_insertedGroups.insert(group->m_id);
    Q_EMIT groupInserted(group);
    const QList<BookmarkItem *> links = group->m_bookmarks;
    for (BookmarkItem *item : links)
        insert(item);
    scheduleSave();
}

void ModelContext::insert(BookmarkItem *item)
{
    if (!item || item->m_deleted || item->m_context == this)
        return;
    Q_ASSERT(!item->m_context);
    if (item->m_group && !item->m_group->m_context) {
        // Inserting the group inserts its links, this one included.
        insert(item->m_group.data());
        return;
    }
    item->m_context = this;
    item->m_id = m_nextItemId++;
    item->m_iconLoaded = true;
    item->setParent(this);
    m_items.insert(item->m_id, item);
    m_insertedItems.insert(item->m_id);
    Q_EMIT itemInserted(item);
    scheduleSave();
}

void ModelContext::remove(BookmarkItem *item)
{
    if (!item || item->m_context != this || item->m_deleted)
        return;
    Q_EMIT itemAboutToBeRemoved(item);
    const qint64 id = item->m_id;
    item->m_deleted = true;
    if (item->m_group)
        item->m_group->detachItem(item);
    m_items.remove(id);
    m_updatedItems.remove(id);
    // The store's queue row goes with the link's.
    m_refreshChanges.remove(id);
    if (m_refreshQueue.erase(id) > 0)
        Q_EMIT refreshQueueChanged(refreshQueueSize());
    if (!m_insertedItems.remove(id))
        m_deletedItems.insert(id);
    Q_EMIT itemRemoved(id);
    item->deleteLater();
    scheduleSave();
}

void ModelContext::remove(BookmarkGroup *group)
{
    if (!group || group->m_context != this || group->m_deleted)
        return;
    Q_EMIT groupAboutToBeRemoved(group);
    // Links go with their group.
    const QList<BookmarkItem *> links = group->m_bookmarks;
    for (BookmarkItem *item : links)
        remove(item);
    const qint64 id = group->m_id;
    group->m_deleted = true;
    m_groups.remove(id);
    m_updatedGroups.remove(id);
    if (!m_insertedGroups.remove(id))
        m_deletedGroups.insert(id);
    Q_EMIT groupRemoved(id);
    group->deleteLater();
    scheduleSave();
}

bool ModelContext::hasChanges() const
{
    return !m_insertedGroups.isEmpty() || !m_updatedGroups.isEmpty() || !m_deletedGroups.isEmpty()
        || !m_insertedItems.isEmpty() || !m_updatedItems.isEmpty() || !m_deletedItems.isEmpty()
        || !m_storeValues.isEmpty() || !m_refreshChanges.isEmpty();
}

ModelContext::RefreshMode ModelContext::refreshMode(const BookmarkItem *item) const
{
    if (!item)
        return RefreshMode::None;
    const auto found = m_refreshQueue.find(item->m_id);
    return found == m_refreshQueue.end() ? RefreshMode::None : found->second;
}

void ModelContext::setRefreshMode(BookmarkItem *item, RefreshMode mode)
{
    if (!item || item->m_context != this || item->m_deleted || refreshMode(item) == mode)
        return;
    if (mode == RefreshMode::None)
        m_refreshQueue.erase(item->m_id);
    else
        m_refreshQueue[item->m_id] = mode;
    m_refreshChanges.insert(item->m_id);
    scheduleSave();
    Q_EMIT refreshQueueChanged(refreshQueueSize());
}

BookmarkItem *ModelContext::nextWaitingItem(const QSet<qint64> &skip, const BookmarkGroup *group) const
{
    for (const auto &[id, mode] : m_refreshQueue) {
        if (skip.contains(id))
            continue;
        BookmarkItem *item = m_items.value(id);
        if (!group || (item && item->group() == group))
            return item;
    }
    return nullptr;
}

QList<BookmarkItem *> ModelContext::waitingItems() const
{
    QList<BookmarkItem *> items;
    items.reserve(qsizetype(m_refreshQueue.size()));
    for (const auto &[id, mode] : m_refreshQueue)
        items.append(m_items.value(id));
    return items;
}

void ModelContext::setStoreValue(const QString &key, const std::optional<QString> &value)
{
    m_storeValues.insert(key, value);
    scheduleSave();
}

void ModelContext::setAutosaveEnabled(bool enabled)
{
    m_autosave = enabled;
    if (enabled && hasChanges())
        scheduleSave();
}

void ModelContext::groupChanged(BookmarkGroup *group)
{
    if (!m_insertedGroups.contains(group->m_id))
        m_updatedGroups.insert(group->m_id);
    scheduleSave();
    Q_EMIT groupFieldsChanged(group);
}

void ModelContext::itemChanged(BookmarkItem *item, int field)
{
    if (!m_insertedItems.contains(item->m_id))
        m_updatedItems[item->m_id] |= field;
    scheduleSave();
    Q_EMIT itemFieldsChanged(item, field);
}

void ModelContext::scheduleSave()
{
    // A pending retry saves this change too, after its pause.
    if (!m_autosave || m_saveScheduled || m_retryTimer->isActive())
        return;
    m_saveScheduled = true;
    // Coalesces every change of this turn of the event loop into one transaction.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_saveScheduled)
                save();
        },
        Qt::QueuedConnection);
}

void ModelContext::setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    m_firstRetry = std::max(first, std::chrono::milliseconds(1));
    m_longestRetry = std::max(longest, m_firstRetry);
}

bool ModelContext::isRetryPending() const
{
    return m_retryTimer->isActive();
}

void ModelContext::noteSaveFailure(const QString &error)
{
    ++m_failedSaves;
    if (m_failedSaves == 1)
        std::fprintf(
            stderr, "Could not save changes: %s%s\n", qPrintable(error), m_autosave ? ". Trying again." : "");
    // One failure may be a passing moment; a second one is worth telling the user.
    if (m_failedSaves >= 2 && m_saveProblem != error) {
        m_saveProblem = error;
        Q_EMIT saveProblemChanged(m_saveProblem);
    }
    if (!m_autosave)
        return;
    std::chrono::milliseconds delay = m_firstRetry;
    for (int i = 1; i < m_failedSaves && delay < m_longestRetry; ++i)
        delay *= 2;
    m_retryTimer->start(std::min(delay, m_longestRetry));
}

void ModelContext::noteSaveSuccess()
{
    m_retryTimer->stop();
    if (m_failedSaves > 0)
        std::fprintf(stderr, "Changes saved after %d failed attempts.\n", m_failedSaves);
    m_failedSaves = 0;
    if (!m_saveProblem.isEmpty()) {
        m_saveProblem.clear();
        Q_EMIT saveProblemChanged(m_saveProblem);
    }
}

bool ModelContext::saveWaiting(std::chrono::milliseconds patience, QString *error)
{
    setBusyTimeout(m_connectionName, patience);
    const bool ok = save(error);
    setBusyTimeout(m_connectionName, savePatience);
    return ok;
}

bool ModelContext::save(QString *error)
{
    m_saveScheduled = false;
    if (!hasChanges()) {
        if (m_failedSaves > 0)
            noteSaveSuccess();
        return true;
    }

    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    const auto fail = [&](const QString &message) {
        db.rollback();
        if (error)
            *error = message;
        noteSaveFailure(message);
        Q_EMIT saveFailed(message);
        return false;
    };
    if (!db.isOpen())
        return fail(QStringLiteral("The store is not open"));
    if (!db.transaction())
        return fail(db.lastError().text());

    // The search index changes in the same transaction as the links.
    LinkSearch::Writer searchIndex(db);
    // Statements that run once a row: each prepared when first needed, straight on SQLite.
    std::optional<SqlStatement> statement;
    const auto prepare = [&](const char *sql) {
        statement.emplace(db, sql);
        return statement->isValid();
    };
    // The link's columns in the order both the insert and the update name them, its id last.
    const auto bindRow = [](SqlStatement &into, const BookmarkItem *item) {
        into.bind(0, item->m_urlString);
        into.bind(1, item->m_title);
        into.bind(2, item->m_summary);
        into.bind(3, item->m_sortOrder);
        into.bind(4, toStored(item->m_createdAt));
        if (item->m_group)
            into.bind(5, item->m_group->m_id);
        else
            into.bindNull(5);
        into.bind(6, item->m_id);
    };

    // Children before parents when deleting, parents before children when inserting.
    if (!m_deletedItems.isEmpty()) {
        if (!prepare("DELETE FROM items WHERE id = ?"))
            return fail(statement->lastError());
        for (qint64 id : std::as_const(m_deletedItems)) {
            if (!searchIndex.remove(id))
                return fail(searchIndex.lastError());
            statement->bind(0, id);
            if (!statement->exec())
                return fail(statement->lastError());
        }
    }
    if (!m_deletedGroups.isEmpty()) {
        if (!prepare("DELETE FROM groups WHERE id = ?"))
            return fail(statement->lastError());
        for (qint64 id : std::as_const(m_deletedGroups)) {
            statement->bind(0, id);
            if (!statement->exec())
                return fail(statement->lastError());
        }
    }
    // Inserted and updated groups are written by the same statement.
    const auto writeGroups = [&](const QSet<qint64> &ids, const char *sql) {
        if (ids.isEmpty())
            return true;
        if (!prepare(sql))
            return false;
        for (qint64 id : ids) {
            const BookmarkGroup *g = m_groups.value(id);
            if (!g)
                continue;
            statement->bind(0, g->m_name);
            statement->bind(1, toStored(g->m_createdAt));
            statement->bind(2, g->m_sortOrder);
            statement->bind(3, id);
            if (!statement->exec())
                return false;
        }
        return true;
    };
    if (!writeGroups(
            m_insertedGroups, "INSERT INTO groups (name, createdAt, sortOrder, id) VALUES (?, ?, ?, ?)")
        || !writeGroups(
            m_updatedGroups, "UPDATE groups SET name = ?, createdAt = ?, sortOrder = ? WHERE id = ?"))
        return fail(statement->lastError());

    // Prepared on first use; one that failed to prepare fails its first run with the reason.
    const auto lazy = [&db](std::optional<SqlStatement> &slot, const char *sql) -> SqlStatement & {
        if (!slot)
            slot.emplace(db, sql);
        return *slot;
    };
    std::optional<SqlStatement> iconSlot;
    const auto writeIcon = [&]() -> SqlStatement & {
        return lazy(iconSlot, "INSERT OR REPLACE INTO icons (itemId, data) VALUES (?, ?)");
    };
    if (!m_insertedItems.isEmpty()) {
        if (!prepare("INSERT INTO items (urlString, title, summary, sortOrder, createdAt, groupId, id) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?)"))
            return fail(statement->lastError());
        for (qint64 id : std::as_const(m_insertedItems)) {
            const BookmarkItem *item = m_items.value(id);
            if (!item)
                continue;
            bindRow(*statement, item);
            if (!statement->exec())
                return fail(statement->lastError());
            if (!searchIndex.insert(id, item->m_urlString, item->m_title, item->m_summary))
                return fail(searchIndex.lastError());
            if (item->m_iconData) {
                SqlStatement &icon = writeIcon();
                icon.bind(0, id);
                icon.bind(1, *item->m_iconData);
                if (!icon.exec())
                    return fail(icon.lastError());
            }
        }
    }

    constexpr int rowFields = BookmarkItem::UrlField | BookmarkItem::TitleField | BookmarkItem::SummaryField
        | BookmarkItem::SortField | BookmarkItem::CreatedField | BookmarkItem::GroupField;
    // Renumbering touches only positions; a narrow statement keeps a large reorder cheap.
    std::optional<SqlStatement> sortSlot;
    std::optional<SqlStatement> rowSlot;
    std::optional<SqlStatement> removeIconSlot;
    for (auto it = m_updatedItems.cbegin(); it != m_updatedItems.cend(); ++it) {
        const BookmarkItem *item = m_items.value(it.key());
        if (!item)
            continue;
        const int fields = it.value();
        if (fields == BookmarkItem::SortField) {
            SqlStatement &sort = lazy(sortSlot, "UPDATE items SET sortOrder = ? WHERE id = ?");
            sort.bind(0, item->m_sortOrder);
            sort.bind(1, item->m_id);
            if (!sort.exec())
                return fail(sort.lastError());
            continue;
        }
        if (fields & rowFields) {
            SqlStatement &row = lazy(rowSlot,
                "UPDATE items SET urlString = ?, title = ?, summary = ?, sortOrder = ?, createdAt = ?, "
                "groupId = ? WHERE id = ?");
            bindRow(row, item);
            if (!row.exec())
                return fail(row.lastError());
        }
        if ((fields & (BookmarkItem::UrlField | BookmarkItem::TitleField | BookmarkItem::SummaryField))
            && !searchIndex.update(item->m_id, item->m_urlString, item->m_title, item->m_summary))
            return fail(searchIndex.lastError());
        if (fields & BookmarkItem::IconField) {
            SqlStatement &change
                = item->m_iconData ? writeIcon() : lazy(removeIconSlot, "DELETE FROM icons WHERE itemId = ?");
            change.bind(0, item->m_id);
            if (item->m_iconData)
                change.bind(1, *item->m_iconData);
            if (!change.exec())
                return fail(change.lastError());
        }
    }

    if (!m_refreshChanges.isEmpty()) {
        SqlStatement queue(db, "INSERT OR REPLACE INTO refresh_queue (itemId, mode) VALUES (?, ?)");
        SqlStatement unqueue(db, "DELETE FROM refresh_queue WHERE itemId = ?");
        if (!queue.isValid() || !unqueue.isValid())
            return fail(queue.isValid() ? unqueue.lastError() : queue.lastError());
        for (const qint64 id : std::as_const(m_refreshChanges)) {
            // A link deleted meanwhile took its row with it.
            if (!m_items.contains(id))
                continue;
            const auto waiting = m_refreshQueue.find(id);
            SqlStatement &change = waiting == m_refreshQueue.end() ? unqueue : queue;
            change.bind(0, id);
            if (waiting != m_refreshQueue.end())
                change.bind(1, qint64(waiting->second));
            if (!change.exec())
                return fail(change.lastError());
        }
    }

    if (!m_storeValues.isEmpty()) {
        SqlStatement setValue(db, "INSERT OR REPLACE INTO metadata (key, value) VALUES (?, ?)");
        SqlStatement removeValue(db, "DELETE FROM metadata WHERE key = ?");
        for (auto it = m_storeValues.cbegin(); it != m_storeValues.cend(); ++it) {
            SqlStatement &change = it.value() ? setValue : removeValue;
            change.bind(0, it.key());
            if (it.value())
                change.bind(1, *it.value());
            if (!change.exec())
                return fail(change.lastError());
        }
    }

    if (!db.commit())
        return fail(db.lastError().text());

    m_insertedGroups.clear();
    m_updatedGroups.clear();
    m_deletedGroups.clear();
    m_insertedItems.clear();
    m_updatedItems.clear();
    m_deletedItems.clear();
    m_storeValues.clear();
    m_refreshChanges.clear();
    noteSaveSuccess();
    Q_EMIT saved();
    return true;
}

std::optional<QByteArray> ModelContext::loadIcon(qint64 itemId) const
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.isOpen())
        return std::nullopt;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT data FROM icons WHERE itemId = ?"));
    query.bindValue(0, itemId);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toByteArray();
}

bool ModelContext::load(QString *error, const QSet<qint64> &hiddenGroups)
{
    setBusyTimeout(m_connectionName, savePatience);
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, name, createdAt, sortOrder FROM groups ORDER BY id"))) {
        if (error)
            *error = describe(query);
        return false;
    }
    while (query.next()) {
        if (hiddenGroups.contains(query.value(0).toLongLong())) {
            // Its identifier stays taken, so nothing new lands on it.
            m_nextGroupId = std::max(m_nextGroupId, query.value(0).toLongLong() + 1);
            continue;
        }
        auto *group = new BookmarkGroup(query.value(1).toString());
        group->m_id = query.value(0).toLongLong();
        group->m_createdAt = fromStored(query.value(2).toLongLong());
        group->m_sortOrder = query.value(3).toLongLong();
        group->m_context = this;
        group->setParent(this);
        m_groups.insert(group->m_id, group);
        m_nextGroupId = std::max(m_nextGroupId, group->m_id + 1);
    }

    // Icons stay on disk until a row asks for them.
    if (!query.exec(QStringLiteral(
            "SELECT id, urlString, title, summary, sortOrder, createdAt, groupId FROM items ORDER BY id"))) {
        if (error)
            *error = describe(query);
        return false;
    }
    while (query.next()) {
        if (!query.value(6).isNull() && hiddenGroups.contains(query.value(6).toLongLong())) {
            m_nextItemId = std::max(m_nextItemId, query.value(0).toLongLong() + 1);
            continue;
        }
        auto *item = new BookmarkItem(query.value(1).toString(), nullptr);
        item->m_id = query.value(0).toLongLong();
        item->m_title = readNullableText(query.value(2));
        item->m_summary = readNullableText(query.value(3));
        item->m_sortOrder = query.value(4).toLongLong();
        item->m_createdAt = fromStored(query.value(5).toLongLong());
        item->m_iconLoaded = false;
        item->m_context = this;
        item->setParent(this);
        if (!query.value(6).isNull()) {
            if (BookmarkGroup *group = m_groups.value(query.value(6).toLongLong())) {
                item->m_group = group;
                group->m_bookmarks.append(item);
            }
        }
        m_items.insert(item->m_id, item);
        m_nextItemId = std::max(m_nextItemId, item->m_id + 1);
    }

    if (!query.exec(QStringLiteral("SELECT itemId, mode FROM refresh_queue"))) {
        if (error)
            *error = describe(query);
        return false;
    }
    while (query.next()) {
        const int mode = query.value(1).toInt();
        const qint64 id = query.value(0).toLongLong();
        // Links of a hidden import are not loaded, and neither is their place in the queue.
        if (m_items.contains(id) && mode >= int(RefreshMode::FillMissing)
            && mode <= int(RefreshMode::Overwrite))
            m_refreshQueue[id] = RefreshMode(mode);
    }
    return true;
}
