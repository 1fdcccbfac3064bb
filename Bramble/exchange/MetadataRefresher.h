#pragma once

#include "metadata/LinkMetadata.h"
#include "model/ModelContext.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>

class BookmarkGroup;
class BookmarkItem;

// Works the store's queue of links waiting for their metadata (ModelContext::refreshMode), in
// creation order, with as many fetches at once as the fetcher has permits. A link leaves the
// queue once its fetch has been written into it, so a queue cut short by quitting or a crash
// goes on where it stopped the next time someone holds the store. Lives on the main thread.
class MetadataRefresher : public QObject
{
    Q_OBJECT

public:
    using FetchFunction = std::function<QCoro::Task<LinkMetadata>(QString urlString)>;
    using RefreshMode = ModelContext::RefreshMode;

    // The fetcher's permits: more lanes would only wait for them.
    static constexpr int lanes = 3;

    explicit MetadataRefresher(ModelContext *context, QObject *parent = nullptr);

    void setFetchFunction(FetchFunction fetch);
    // Works only the links of this group (none: every link); links of other groups keep waiting.
    void setGroup(BookmarkGroup *group);

    // Starts working the queue, unless it already is; a stop under way is called off.
    void start();
    // Takes no further link; the fetches in flight end and are written, then finished() follows.
    void stop();
    bool isRunning() const { return m_running > 0; }
    bool isStopping() const { return m_stopping; }
    // Links being fetched right now.
    int inFlight() const { return int(m_inFlight.size()); }
    bool isFetching(const BookmarkItem *item) const;
    // Links still without their metadata: those waiting and those being fetched.
    int remaining() const;

    // Writes what a fetch found into the link, as its mode allows. The placeholder summary and
    // an address standing in for the title count as missing. Returns false for a link that is gone.
    static bool apply(BookmarkItem *item, RefreshMode mode, const LinkMetadata &metadata);

Q_SIGNALS:
    // One link's fetch has ended and been written; done counts them since start().
    void linkRefreshed(const QString &urlString, int done);
    // Every lane has stopped: the queue is empty, or stop() was called. refreshed counts the
    // links updated since start().
    void finished(int refreshed);

private:
    QCoro::Task<> lane();

    QPointer<ModelContext> m_context;
    FetchFunction m_fetch;
    QPointer<BookmarkGroup> m_group;
    bool m_onlyGroup = false;
    QSet<qint64> m_inFlight;
    int m_running = 0;
    bool m_stopping = false;
    int m_done = 0;
    int m_refreshed = 0;
};
