#pragma once

#include "JSONDocument.h"
#include "metadata/LinkMetadata.h"

#include <QCoroTask>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>

class BookmarkItem;
class ModelContext;

struct ExportResult
{
    bool ok = false;
    // Shown to the user on failure.
    QString error;
    int groupCount = 0;
    int linkCount = 0;
    qint64 fileBytes = 0;
};

struct ImportResult
{
    bool ok = false;
    // Shown to the user on failure: "Permission denied" or why the file is not an export file.
    QString error;
    // Groups in the file and links created.
    int groupCount = 0;
    int linkCount = 0;
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
    // Takes the library as it is now and writes it to path. Prints "Saved to <file URL>" or the
    // failure, and sends "data_exported" on success.
    QCoro::Task<ExportResult> exportData(const QString &path);
    QCoro::Task<ExportResult> writeDocument(JSONDocument document, QString path);

    // Reads path and adds its groups and links; existing records are never merged or replaced.
    // Progress goes from 0 to 1 in creation order. On success sends "data_imported" and starts
    // the metadata refresh, which outlives the returned task (see metadataRefreshFinished).
    // All or nothing on disk: an import that does not finish is removed by the next owner of
    // the store (ModelContainer::unfinishedImportKeyPrefix). One import at a time.
    QCoro::Task<ImportResult> importData(QString path);

    bool isImporting() const { return m_importing; }
    double importProgress() const { return m_progress; }
    // A link is being fetched or waits for it.
    bool isRefreshingMetadata() const { return m_refreshing; }

    struct RefreshTarget
    {
        QPointer<BookmarkItem> item;
        // The file carried a real summary, which a host-name fallback must not replace.
        bool summaryFromFile = false;
    };
    // One fetch at a time, in order; links deleted meanwhile (or whose group was) are skipped.
    // Returns how many links were updated.
    static QCoro::Task<int> refreshMetadata(QList<RefreshTarget> targets, FetchFunction fetch);

    // The refresh after an import is a queue worked one link at a time; other work can join
    // it (links handed over by another process) and leave it (handed on to another one).
    void enqueueRefresh(const QList<RefreshTarget> &targets);
    // Takes every link that waits and has not started; the one being fetched, if any, ends
    // on its own, and metadataRefreshFinished follows.
    QList<RefreshTarget> takePendingRefresh();
    qsizetype pendingRefreshCount() const { return m_refreshQueue.size(); }

Q_SIGNALS:
    void importProgressChanged(double progress);
    void importingChanged(bool importing);
    // The queue is empty again; refreshed counts the links updated since it last was.
    void metadataRefreshFinished(int refreshed);

private:
    void setProgress(double progress);
    void setImporting(bool importing);
    void sendSignal(const QString &name, const QMap<QString, QString> &parameters = {}) const;
    QCoro::Task<> workRefreshQueue();

    QPointer<ModelContext> m_context;
    SignalHook m_signalHook;
    FetchFunction m_fetch;
    bool m_importing = false;
    double m_progress = 0;
    QList<RefreshTarget> m_refreshQueue;
    bool m_refreshing = false;
};
