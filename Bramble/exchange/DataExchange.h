#pragma once

#include "JSONDocument.h"
#include "metadata/LinkMetadata.h"
#include "model/ModelContext.h"

#include <QCoroTask>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>

class BookmarkGroup;
class BookmarkItem;
class MetadataRefresher;

struct ExportResult
{
    bool ok = false;
    // Shown to the user on failure.
    QString error;
    int groupCount = 0;
    int linkCount = 0;
    qint64 fileBytes = 0;
};

enum class ExportFormat {
    Json,
    // Netscape bookmark HTML, for the browsers.
    Html,
};

struct ImportOptions
{
    // Leaves out every link whose normalised address is in the library already or came
    // earlier in the file.
    bool skipExisting = false;
};

struct ImportResult
{
    bool ok = false;
    // Shown to the user on failure: "Permission denied" or why the file is not an export file.
    QString error;
    // Groups in the file and links created.
    int groupCount = 0;
    int linkCount = 0;
    // What the file was: "bramble", "html", "chromium" or "firefox"; empty when unread.
    QString source;
    // Left out by ImportOptions::skipExisting.
    int skippedDuplicates = 0;
    // Links that are not web pages (place:, javascript:, file: …), never imported.
    int skippedNonWeb = 0;

    // "已跳过 3 个重复链接", "已跳过 3 个非网页链接": what the result adds to the counts.
    QStringList notes() const;
};

// Export of the whole library to a JSON file and import of such a file as new groups and links,
// followed by a fresh metadata fetch for every imported link. Lives on the main thread.
class DataExchange : public QObject
{
    Q_OBJECT

public:
    using SignalHook = std::function<void(const QString &name, const QMap<QString, QString> &parameters)>;
    using FetchFunction = std::function<QCoro::Task<LinkMetadata>(QString urlString)>;

    static constexpr const char *placeholderSummary = "正在获取信息...";
    // Aimed-for length of one stretch of work (creating and saving records, refreshing cached
    // links) before the event loop gets a turn.
    static constexpr std::chrono::milliseconds turnBudget { 20 };

    explicit DataExchange(ModelContext *context, QObject *parent = nullptr);
    ~DataExchange() override;

    // Receives "data_exported" and "data_imported" with their parameters; the app's usage signals by default.
    void setSignalHook(SignalHook hook) { m_signalHook = std::move(hook); }
    static SignalHook defaultSignalHook();
    // The metadata fetch used after an import; MetadataFetcher::fetchMetadata by default.
    void setFetchFunction(FetchFunction fetch);

    // Every group with its links, in the order the store returns them.
    JSONDocument exportDocument() const;
    // What a browser is given: groups in sidebar order, links in display order, with their
    // icons. Loading the icons takes turns of the event loop; links deleted meanwhile are left out.
    QCoro::Task<ExportData> browserExportData() const;
    // Takes the library as it is now and writes it to path. Prints "Saved to <file URL>" or the
    // failure, and sends "data_exported" on success.
    QCoro::Task<ExportResult> exportData(QString path, ExportFormat format = ExportFormat::Json);
    QCoro::Task<ExportResult> writeDocument(JSONDocument document, QString path);
    QCoro::Task<ExportResult> writeHtml(ExportData data, QString path);

    // Reads path, whatever bookmark format its content is in (BookmarkFileReader, on a worker
    // thread), and adds its groups and links; existing records are never merged or replaced.
    // Progress goes from 0 to 1 in creation order. The new links join the stored refresh queue
    // in the same saves as the links themselves, to have only what the file lacked filled in;
    // a browser's links only when they came without a title or summary. A browser's creation
    // dates and inline icons are kept; Bramble's own file keeps neither dates nor icons.
    // On success sends "data_imported" and starts working the queue (unless turned off with
    // setRefreshAfterImport), which outlives the returned task (see metadataRefreshFinished).
    // All or nothing on disk: an import that does not finish is removed by the next owner of
    // the store (ModelContainer::unfinishedImportKeyPrefix). One import at a time.
    QCoro::Task<ImportResult> importData(QString path, ImportOptions options = {});

    void setRefreshAfterImport(bool refresh) { m_refreshAfterImport = refresh; }

    ModelContext *context() const { return m_context; }
    bool isImporting() const { return m_importing; }
    double importProgress() const { return m_progress; }
    // The refresh queue is being worked.
    bool isRefreshingMetadata() const;

    using RefreshMode = ModelContext::RefreshMode;
    struct RefreshTarget
    {
        QPointer<BookmarkItem> item;
        // FillMissing for imported links; Overwrite for an explicit request.
        RefreshMode mode = RefreshMode::FillMissing;
    };
    // One fetch at a time, in order; links deleted meanwhile (or whose group was) are skipped.
    // Stores nothing about the queue. Returns how many links were updated.
    static QCoro::Task<int> refreshMetadata(QList<RefreshTarget> targets, FetchFunction fetch);

    // Puts links on the store's refresh queue (a link already waiting keeps the stronger of the
    // two modes) and works the queue. Any import path hands its new links here.
    void enqueueRefresh(const QList<RefreshTarget> &targets);
    // Puts links on their store's refresh queue without working it; a link already waiting
    // keeps the stronger of the two modes. For views: whoever holds the store works it.
    static void queueLinks(const QList<BookmarkItem *> &links, RefreshMode mode);
    // Works what the store's queue holds, left by an earlier run or another process.
    void resumeRefresh();
    // Starts working the queue whenever links join it (the window does; a command decides itself).
    void setWorksQueueWhenItGrows(bool works);
    // Puts every link of group (null: of the library) on the queue to be fetched afresh, its
    // title, summary and icon replaced by what arrives, and works the queue. Returns how many.
    int refreshAll(BookmarkGroup *group = nullptr);
    // Takes no further link; the fetches in flight end, then metadataRefreshFinished follows.
    // The links still waiting stay on the store's queue.
    void stopRefresh();
    // Stops taking links and gives those still waiting and not in flight, for another process
    // that takes over the store; they stay on its queue.
    QList<RefreshTarget> takePendingRefresh();
    // Links waiting for their metadata and not being fetched.
    qsizetype pendingRefreshCount() const;
    // Links still without their metadata, being fetched or waiting.
    int remainingRefreshCount() const;
    MetadataRefresher *refresher() const { return m_refresher; }

Q_SIGNALS:
    void importProgressChanged(double progress);
    void importingChanged(bool importing);
    // The queue is empty again, or its work was stopped; refreshed counts the links updated
    // since the work started.
    void metadataRefreshFinished(int refreshed);

private:
    void setProgress(double progress);
    void setImporting(bool importing);
    void sendSignal(const QString &name, const QMap<QString, QString> &parameters = {}) const;
    // Runs writer on a worker thread, then reports as every export does.
    QCoro::Task<ExportResult> writeWith(
        std::function<bool(QString *error)> writer, ExportResult result, QString path);

    QPointer<ModelContext> m_context;
    SignalHook m_signalHook;
    FetchFunction m_fetch;
    bool m_importing = false;
    double m_progress = 0;
    MetadataRefresher *m_refresher = nullptr;
    bool m_refreshAfterImport = true;
    QMetaObject::Connection m_queueWatch;
    int m_lastQueueSize = 0;
};
