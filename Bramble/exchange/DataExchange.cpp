#include "DataExchange.h"

#include "BookmarkFileReader.h"
#include "MetadataRefresher.h"
#include "NetscapeBookmarkWriter.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "platform/Console.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>
#include <QtConcurrent>
#include <algorithm>
#include <cstdio>

namespace {

// Creating records is cheap, saving them is not, and a save left to the automatic one would
// write everything created since the last turn at once. So each stretch creates a batch, saves
// it and gives the event loop a turn; the batch size follows the measured cost so that a
// stretch stays near the target.
class Pacer
{
public:
    explicit Pacer(std::chrono::milliseconds target)
        : m_targetNs(double(std::chrono::nanoseconds(target).count()))
    {
        m_timer.start();
    }
    void created() { ++m_count; }
    bool turnDue() const { return m_count >= m_batch; }
    // Call after the batch has been saved, before the turn.
    void batchDone()
    {
        const double spent = std::max<double>(1, double(m_timer.nsecsElapsed()));
        m_batch = std::clamp(int(m_batch * m_targetNs / spent), 8, 50000);
        m_count = 0;
    }
    void turnTaken() { m_timer.restart(); }

private:
    QElapsedTimer m_timer;
    double m_targetNs;
    int m_batch = 200;
    int m_count = 0;
};

bool isAlive(const QPointer<BookmarkItem> &item)
{
    return item && !item->isDeleted() && item->group() && !item->group()->isDeleted();
}

// Saves what the last stretch created and gives the event loop a turn. Touches only the pacer
// after the turn: the context may be gone by then.
QCoro::Task<> takeTurn(ModelContext *context, Pacer &pacer)
{
    context->save();
    pacer.batchDone();
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    pacer.turnTaken();
}

// Every link's address, group by group with turns in between: a large library's take too
// long to copy in one stretch. Links added meanwhile may be missed.
QCoro::Task<QStringList> libraryAddresses(QPointer<ModelContext> context)
{
    QStringList addresses;
    if (!context)
        co_return addresses;
    QList<QPointer<BookmarkGroup>> groups;
    for (BookmarkGroup *group : context->groups())
        groups.append(group);
    QElapsedTimer busy;
    busy.start();
    for (const QPointer<BookmarkGroup> &group : std::as_const(groups)) {
        if (busy.elapsed() >= DataExchange::turnBudget.count()) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
            busy.restart();
        }
        if (!context)
            break;
        if (!group || group->isDeleted())
            continue;
        for (const BookmarkItem *item : group->bookmarks()) {
            if (!item->isDeleted())
                addresses.append(item->urlString());
        }
    }
    co_return addresses;
}

// Freeing the records of a large file takes tens of milliseconds; a worker does it.
void releaseOnWorker(std::optional<ImportedBookmarks> bookmarks)
{
    auto shared = std::make_shared<std::optional<ImportedBookmarks>>(std::move(bookmarks));
    QThreadPool::globalInstance()->start([shared = std::move(shared)]() mutable { shared.reset(); });
}

} // namespace

DataExchange::DataExchange(ModelContext *context, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_signalHook(defaultSignalHook())
    , m_fetch([](QString urlString) { return MetadataFetcher::fetchMetadata(urlString); })
    , m_refresher(new MetadataRefresher(context, this))
{
    connect(m_refresher, &MetadataRefresher::finished, this, &DataExchange::metadataRefreshFinished);
}

DataExchange::SignalHook DataExchange::defaultSignalHook()
{
    return [](const QString &name, const QMap<QString, QString> &parameters) {
        AppSignals::send(name, parameters);
    };
}

DataExchange::~DataExchange() = default;

void DataExchange::setFetchFunction(FetchFunction fetch)
{
    if (fetch)
        m_fetch = std::move(fetch);
    else
        m_fetch = [](QString urlString) { return MetadataFetcher::fetchMetadata(urlString); };
    m_refresher->setFetchFunction(m_fetch);
}

JSONDocument DataExchange::exportDocument() const
{
    ExportData data;
    if (!m_context)
        return JSONDocument(std::move(data));
    const QList<BookmarkGroup *> groups = m_context->groups();
    data.groups.reserve(groups.size());
    for (const BookmarkGroup *group : groups) {
        ExportGroup exported { group->name(), group->createdAt(), {} };
        exported.bookmarks.reserve(group->bookmarks().size());
        for (const BookmarkItem *item : group->bookmarks()) {
            if (!item->isDeleted())
                exported.bookmarks.append(
                    { item->urlString(), item->title(), item->summary(), item->createdAt() });
        }
        data.groups.append(std::move(exported));
    }
    return JSONDocument(std::move(data));
}

QCoro::Task<ExportData> DataExchange::browserExportData() const
{
    ExportData data;
    if (!m_context)
        co_return data;
    QList<QPair<QPointer<BookmarkGroup>, QList<QPointer<BookmarkItem>>>> order;
    for (BookmarkGroup *group : GroupListModel::ordered(m_context)) {
        QList<QPointer<BookmarkItem>> links;
        for (BookmarkItem *item : BookmarkListModel::ordered(group))
            links.append(item);
        order.append({ group, std::move(links) });
    }
    // Icons are read from the store one by one, which for a large library is too long a stretch.
    QElapsedTimer busy;
    busy.start();
    for (const auto &[group, links] : std::as_const(order)) {
        if (!group || group->isDeleted())
            continue;
        ExportGroup exported { group->name(), group->createdAt(), {} };
        for (const QPointer<BookmarkItem> &item : links) {
            if (busy.elapsed() >= turnBudget.count()) {
                co_await QCoro::sleepFor(std::chrono::milliseconds(0));
                busy.restart();
                if (!group || group->isDeleted())
                    break;
            }
            if (!isAlive(item) || item->group() != group)
                continue;
            exported.bookmarks.append(
                { item->urlString(), item->title(), item->summary(), item->createdAt(), item->iconData() });
        }
        if (group && !group->isDeleted())
            data.groups.append(std::move(exported));
    }
    co_return data;
}

QCoro::Task<ExportResult> DataExchange::exportData(QString path, ExportFormat format)
{
    if (format == ExportFormat::Html) {
        QPointer<DataExchange> self(this);
        QCoro::Task<ExportData> collecting = browserExportData();
        ExportData data = co_await collecting;
        if (!self) {
            ExportResult result;
            result.error = QStringLiteral("The library was closed during the export.");
            co_return result;
        }
        QCoro::Task<ExportResult> writing = writeHtml(std::move(data), path);
        co_return co_await writing;
    }
    QCoro::Task<ExportResult> writing = writeDocument(exportDocument(), path);
    co_return co_await writing;
}

QCoro::Task<ExportResult> DataExchange::writeDocument(JSONDocument document, QString path)
{
    ExportResult result;
    result.groupCount = int(document.data.groups.size());
    result.linkCount = document.data.linkCount();
    auto writer
        = [document = std::move(document), path](QString *error) { return document.writeFile(path, error); };
    return writeWith(std::move(writer), result, path);
}

QCoro::Task<ExportResult> DataExchange::writeHtml(ExportData data, QString path)
{
    ExportResult result;
    result.groupCount = int(data.groups.size());
    result.linkCount = data.linkCount();
    auto writer = [data = std::move(data), path](
                      QString *error) { return NetscapeBookmarkWriter::writeFile(data, path, error); };
    return writeWith(std::move(writer), result, path);
}

QCoro::Task<ExportResult> DataExchange::writeWith(
    std::function<bool(QString *error)> writer, ExportResult result, QString path)
{
    QPointer<DataExchange> self(this);
    // Encoding a large library takes long enough to freeze the window, so it runs on a worker.
    struct Written
    {
        bool ok = false;
        QString error;
        qint64 bytes = 0;
    };
    // Named rather than temporaries inside co_await: g++ 12 mishandles those.
    auto write = [writer = std::move(writer), path]() {
        Written outcome;
        outcome.ok = writer(&outcome.error);
        if (outcome.ok)
            outcome.bytes = QFileInfo(path).size();
        return outcome;
    };
    QFuture<Written> writing = QtConcurrent::run(std::move(write));
    const Written written = co_await writing;
    if (!written.ok) {
        Console::printLine(written.error);
        result.error = written.error;
        co_return result;
    }
    Console::printLine(QStringLiteral("Saved to ")
        + QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
    result.ok = true;
    result.fileBytes = written.bytes;
    if (self)
        self->sendSignal(QStringLiteral("data_exported"));
    co_return result;
}

QStringList ImportResult::notes() const
{
    QStringList notes;
    if (skippedDuplicates > 0)
        notes << QStringLiteral("已跳过 %1 个重复链接").arg(skippedDuplicates);
    if (skippedNonWeb > 0)
        notes << QStringLiteral("已跳过 %1 个非网页链接").arg(skippedNonWeb);
    return notes;
}

QCoro::Task<ImportResult> DataExchange::importData(QString path, ImportOptions options)
{
    QPointer<DataExchange> self(this);
    ImportResult result;
    if (m_importing) {
        result.error = QStringLiteral("Another import is still running; try again when it has finished.");
        co_return result;
    }
    setImporting(true);
    setProgress(0);

    // The addresses are copied here, their keys made on the worker: normalising a large
    // library's addresses would hold the main thread too long.
    QStringList existing;
    if (options.skipExisting) {
        QCoro::Task<QStringList> collecting = libraryAddresses(m_context);
        existing = co_await collecting;
        if (!self) {
            result.error = QStringLiteral("The import was cancelled.");
            co_return result;
        }
    }
    // Reading, parsing and comparing off the main thread keeps the progress sheet live.
    auto readAndSkip = [path, existing = std::move(existing), skip = options.skipExisting]() {
        BookmarkReadResult read = BookmarkFileReader::readFile(path);
        if (read.bookmarks && skip)
            read.bookmarks->skipDuplicates(ImportedBookmarks::keysOf(existing));
        return read;
    };
    QFuture<BookmarkReadResult> reading = QtConcurrent::run(std::move(readAndSkip));
    BookmarkReadResult read = co_await reading;
    // The read result is let go of on a worker (see releaseOnWorker); the future holds a copy.
    reading = QFuture<BookmarkReadResult>();
    if (!self) {
        result.error = QStringLiteral("The import was cancelled.");
        co_return result;
    }
    if (!read.bookmarks) {
        result.error = read.error;
        setImporting(false);
        co_return result;
    }

    if (!m_context) {
        result.error = QStringLiteral("The library is not open.");
        setImporting(false);
        co_return result;
    }

    result.source = read.bookmarks->source;
    result.skippedDuplicates = read.bookmarks->skippedDuplicates;
    result.skippedNonWeb = read.bookmarks->skippedNonWeb;
    // A browser's titles and dates are the user's own; Bramble's file restores texts only.
    const bool fromBrowser = result.source != BookmarkSource::bramble;
    const ExportData &data = read.bookmarks->data;
    const int total = int(data.groups.size()) + data.linkCount();
    const double denominator = std::max(1, total);
    int done = 0;
    int created = 0;
    const QString placeholder = QString::fromUtf8(placeholderSummary);
    Pacer pacer(turnBudget);

    // All or nothing: every save of this import also lists the groups it has created, under
    // keys its last save removes. Should the process die first, the next owner of the store
    // removes those groups, so a second import of the file never duplicates half of it.
    const QString markerKey = QLatin1String(ModelContainer::unfinishedImportKeyPrefix)
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char(':');
    int batch = 0;
    QStringList batchGroups;
    const auto mark = [&](qint64 groupId) {
        batchGroups << QString::number(groupId);
        m_context->setStoreValue(markerKey + QString::number(batch), batchGroups.join(QLatin1Char(',')));
    };
    // Each turn saves its batch with its own key, so no save rewrites the whole list.
    const auto nextBatch = [&] {
        ++batch;
        batchGroups.clear();
    };

    result.groupCount = int(data.groups.size());
    for (const ExportGroup &fileGroup : data.groups) {
        if (pacer.turnDue()) {
            QCoro::Task<> turn = takeTurn(m_context, pacer);
            co_await turn;
            if (!self || !m_context)
                break;
            nextBatch();
        }
        auto *newGroup = new BookmarkGroup(fileGroup.name);
        if (fromBrowser && fileGroup.createdAt.isValid())
            newGroup->setCreatedAt(fileGroup.createdAt);
        m_context->insert(newGroup);
        mark(newGroup->id());
        QPointer<BookmarkGroup> group(newGroup);
        pacer.created();
        setProgress(++done / denominator);

        for (const ExportItem &link : fileGroup.bookmarks) {
            if (pacer.turnDue()) {
                QCoro::Task<> turn = takeTurn(m_context, pacer);
                co_await turn;
                // Everything may have gone away during the turn.
                if (!self || !m_context)
                    break;
                nextBatch();
            }
            // The user may delete the new group while the import runs; its remaining links go.
            if (!group || group->isDeleted()) {
                setProgress(++done / denominator);
                continue;
            }
            auto *item = new BookmarkItem(link.urlString, group);
            item->setTitle(link.title ? *link.title : link.urlString);
            item->setSummary(link.summary ? *link.summary : placeholder);
            if (fromBrowser) {
                if (link.createdAt.isValid())
                    item->setCreatedAt(link.createdAt);
                if (link.iconData)
                    item->setIconData(link.iconData);
            }
            m_context->insert(item);
            // Queued in the same save as the link, so that no crash leaves it waiting unnoticed.
            if (!fromBrowser || !link.title || !link.summary)
                m_context->setRefreshMode(item, RefreshMode::FillMissing);
            ++created;
            pacer.created();
            setProgress(++done / denominator);
        }
        if (!self || !m_context)
            break;
    }
    if (!self || !m_context) {
        result.linkCount = created;
        result.error = QStringLiteral("The library was closed during the import.");
        if (self)
            setImporting(false);
        co_return result;
    }

    // The import is complete: its keys go in the same transaction as its last records. A
    // failed save is retried by automatic saving; the records stay in the context meanwhile.
    for (int i = 0; i <= batch; ++i)
        m_context->setStoreValue(markerKey + QString::number(i), std::nullopt);
    m_context->save();

    releaseOnWorker(std::move(read.bookmarks));
    result.ok = true;
    result.linkCount = created;
    setImporting(false);
    if (m_refreshAfterImport)
        resumeRefresh();
    sendSignal(QStringLiteral("data_imported"),
        { { QStringLiteral("groupCount"), QString::number(result.groupCount) },
            { QStringLiteral("linkCount"), QString::number(result.linkCount) },
            { QStringLiteral("source"), result.source } });
    co_return result;
}

QCoro::Task<int> DataExchange::refreshMetadata(QList<RefreshTarget> targets, FetchFunction fetch)
{
    int refreshed = 0;
    // Cache hits complete without suspending, so without turns of its own a refresh of many
    // cached links would hold the main thread for all of them.
    QElapsedTimer busy;
    for (const RefreshTarget &target : std::as_const(targets)) {
        if (!busy.isValid() || busy.elapsed() >= turnBudget.count()) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
            busy.start();
        }
        if (!isAlive(target.item))
            continue;
        const QString urlString = target.item->urlString();
        QCoro::Task<LinkMetadata> fetching = fetch(urlString);
        const LinkMetadata metadata = co_await fetching;
        refreshed += MetadataRefresher::apply(target.item, target.mode, metadata) ? 1 : 0;
    }
    co_return refreshed;
}

bool DataExchange::isRefreshingMetadata() const
{
    return m_refresher->isRunning();
}

void DataExchange::enqueueRefresh(const QList<RefreshTarget> &targets)
{
    if (!m_context)
        return;
    for (const RefreshTarget &target : targets) {
        if (isAlive(target.item) && target.item->context() == m_context)
            queueLinks({ target.item.data() }, target.mode);
    }
    resumeRefresh();
}

void DataExchange::queueLinks(const QList<BookmarkItem *> &links, RefreshMode mode)
{
    if (mode == RefreshMode::None)
        return;
    for (BookmarkItem *item : links) {
        if (!isAlive(item) || !item->context())
            continue;
        ModelContext *context = item->context();
        context->setRefreshMode(item, std::max(mode, context->refreshMode(item)));
    }
}

void DataExchange::setWorksQueueWhenItGrows(bool works)
{
    disconnect(m_queueWatch);
    if (!works || !m_context)
        return;
    m_lastQueueSize = m_context->refreshQueueSize();
    m_queueWatch = connect(m_context, &ModelContext::refreshQueueChanged, this, [this](int waiting) {
        const bool grew = waiting > m_lastQueueSize;
        m_lastQueueSize = waiting;
        if (grew)
            resumeRefresh();
    });
}

void DataExchange::resumeRefresh()
{
    m_refresher->start();
}

int DataExchange::refreshAll(BookmarkGroup *group)
{
    if (!m_context)
        return 0;
    QList<RefreshTarget> targets;
    for (BookmarkItem *item : group ? group->bookmarks() : m_context->items())
        targets.append({ item, RefreshMode::Overwrite });
    // In creation order, whatever the group's collection order is: the queue sorts by itself.
    enqueueRefresh(targets);
    return int(std::count_if(
        targets.cbegin(), targets.cend(), [](const RefreshTarget &t) { return isAlive(t.item); }));
}

void DataExchange::stopRefresh()
{
    m_refresher->stop();
}

QList<DataExchange::RefreshTarget> DataExchange::takePendingRefresh()
{
    m_refresher->stop();
    QList<RefreshTarget> pending;
    if (!m_context)
        return pending;
    for (BookmarkItem *item : m_context->waitingItems()) {
        if (isAlive(item) && !m_refresher->isFetching(item))
            pending.append({ item, m_context->refreshMode(item) });
    }
    return pending;
}

qsizetype DataExchange::pendingRefreshCount() const
{
    return std::max(0, remainingRefreshCount() - m_refresher->inFlight());
}

int DataExchange::remainingRefreshCount() const
{
    return m_refresher->remaining();
}

void DataExchange::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    Q_EMIT importProgressChanged(progress);
}

void DataExchange::setImporting(bool importing)
{
    if (importing == m_importing)
        return;
    m_importing = importing;
    Q_EMIT importingChanged(importing);
}

void DataExchange::sendSignal(const QString &name, const QMap<QString, QString> &parameters) const
{
    if (m_signalHook)
        m_signalHook(name, parameters);
}
