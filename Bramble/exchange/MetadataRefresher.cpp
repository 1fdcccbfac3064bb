#include "MetadataRefresher.h"

#include "DataExchange.h"
#include "metadata/MetadataCache.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"

#include <QCoroTimer>
#include <QElapsedTimer>

namespace {

bool isAlive(const QPointer<BookmarkItem> &item)
{
    return item && !item->isDeleted() && item->group() && !item->group()->isDeleted();
}

bool lacksText(const std::optional<QString> &text, const QString &standIn)
{
    return !text || text->isEmpty() || *text == standIn;
}

} // namespace

MetadataRefresher::MetadataRefresher(ModelContext *context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
    setFetchFunction(nullptr);
}

void MetadataRefresher::setFetchFunction(FetchFunction fetch)
{
    if (fetch)
        m_fetch = std::move(fetch);
    else
        m_fetch = [](QString urlString) { return MetadataFetcher::fetchMetadata(urlString); };
}

void MetadataRefresher::setGroup(BookmarkGroup *group)
{
    m_group = group;
    m_onlyGroup = group != nullptr;
}

int MetadataRefresher::remaining() const
{
    if (!m_context || (m_onlyGroup && !m_group))
        return 0;
    if (!m_onlyGroup)
        return m_context->refreshQueueSize();
    const QList<BookmarkItem *> links = m_group->bookmarks();
    return int(std::count_if(links.cbegin(), links.cend(),
        [this](const BookmarkItem *link) { return m_context->refreshMode(link) != RefreshMode::None; }));
}

void MetadataRefresher::start()
{
    if (!m_context)
        return;
    m_stopping = false;
    if (m_running == 0) {
        m_done = 0;
        m_refreshed = 0;
    }
    // One lane per waiting link, up to `lanes`; one that finds nothing left to take just ends.
    while (m_running < std::min(lanes, m_context->refreshQueueSize())) {
        ++m_running;
        lane();
    }
}

bool MetadataRefresher::isFetching(const BookmarkItem *item) const
{
    return item && m_inFlight.contains(item->id());
}

void MetadataRefresher::stop()
{
    if (m_running > 0)
        m_stopping = true;
}

bool MetadataRefresher::apply(BookmarkItem *item, RefreshMode mode, const LinkMetadata &metadata)
{
    if (!isAlive(item) || mode == RefreshMode::None)
        return false;
    const QString placeholder = QString::fromUtf8(DataExchange::placeholderSummary);
    const bool overwrite = mode == RefreshMode::Overwrite;
    if (metadata.title && (overwrite || lacksText(item->title(), item->urlString())))
        item->setTitle(metadata.title);
    // The host-name fallback never replaces a summary someone wrote.
    if (metadata.summary
        && ((overwrite && metadata.summaryFromPage) || lacksText(item->summary(), placeholder)))
        item->setSummary(metadata.summary);
    if (metadata.iconData && (overwrite || !item->iconData()))
        item->setIconData(metadata.iconData);
    return true;
}

QCoro::Task<> MetadataRefresher::lane()
{
    QPointer<MetadataRefresher> self(this);
    // Cache hits complete without suspending: without turns of its own, a lane working many
    // cached links would hold the main thread for all of them.
    QElapsedTimer busy;
    while (self && m_context && !m_stopping) {
        if (!busy.isValid() || busy.elapsed() >= DataExchange::turnBudget.count()) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
            busy.start();
            if (!self || !m_context || m_stopping)
                break;
        }
        if (m_onlyGroup && !m_group)
            break;
        QPointer<BookmarkItem> item = m_context->nextWaitingItem(m_inFlight, m_group);
        if (!item)
            break;
        const qint64 id = item->id();
        if (!isAlive(item)) {
            m_context->setRefreshMode(item, RefreshMode::None);
            continue;
        }
        const QString urlString = item->urlString();
        // Asked for afresh: what a fetch of the last hour found, or failed to find, must not
        // stand in for the page as it is now.
        if (m_context->refreshMode(item) == RefreshMode::Overwrite)
            MetadataCache::shared().remove(urlString);
        m_inFlight.insert(id);
        // Copied: the refresher may be gone when the fetch ends.
        const FetchFunction fetch = m_fetch;
        QCoro::Task<LinkMetadata> fetching = fetch(urlString);
        const LinkMetadata metadata = co_await fetching;
        if (!self)
            co_return;
        m_inFlight.remove(id);
        if (m_context && isAlive(item)) {
            // Read now: the link may have been put back with another mode meanwhile.
            const RefreshMode mode = m_context->refreshMode(item);
            if (mode != RefreshMode::None) {
                m_refreshed += apply(item, mode, metadata) ? 1 : 0;
                m_context->setRefreshMode(item, RefreshMode::None);
            }
        }
        Q_EMIT linkRefreshed(urlString, ++m_done);
    }
    if (!self)
        co_return;
    if (--m_running == 0) {
        m_stopping = false;
        Q_EMIT finished(m_refreshed);
    }
}
