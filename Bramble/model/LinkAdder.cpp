#include "LinkAdder.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "ModelContext.h"
#include "metadata/MetadataFetcher.h"
#include "platform/AppSignals.h"
#include "platform/Console.h"

#include <algorithm>
#include <limits>

QString LinkAdder::normalizedAddress(const QString &text)
{
    if (text.toLower().startsWith(QLatin1String("http")))
        return text;
    return QStringLiteral("https://") + text;
}

BookmarkItem *LinkAdder::addLink(ModelContext *context, BookmarkGroup *group, const QString &text)
{
    if (text.isEmpty() || !context || !group || group->isDeleted())
        return nullptr;
    const QString address = normalizedAddress(text);
    qint64 position = 0;
    if (!group->bookmarks().isEmpty()) {
        qint64 largest = std::numeric_limits<qint64>::min();
        for (const BookmarkItem *link : group->bookmarks())
            largest = std::max(largest, link->sortOrder());
        position = largest + 1;
    }
    auto *link = new BookmarkItem(address, group);
    link->setTitle(address);
    link->setSummary(placeholderSummary);
    link->setSortOrder(position);
    context->insert(link);
    // A failed save is not reported: automatic saving tries again with the next change.
    context->save();
    AppSignals::send(QStringLiteral("link_added"));
    return link;
}

QCoro::Task<LinkMetadata> LinkAdder::fillMetadata(QPointer<BookmarkItem> link, QString urlString)
{
    Console::printLine(QStringLiteral("🔍 Starting metadata fetch for: ") + urlString);
    const LinkMetadata metadata = co_await MetadataFetcher::fetchMetadata(urlString);
    const auto text
        = [](const std::optional<QString> &value) { return value ? *value : QStringLiteral("nil"); };
    Console::printLine(QStringLiteral("📥 Metadata fetched - Title: ") + text(metadata.title)
        + QStringLiteral(", Summary: ") + text(metadata.summary) + QStringLiteral(", Icon: ")
        + (metadata.iconData ? QString::number(metadata.iconData->size()) + QStringLiteral(" bytes")
                             : QStringLiteral("nil")));
    // The link may have been deleted while the fetch ran.
    if (!link || link->isDeleted())
        co_return metadata;
    if (metadata.title) {
        link->setTitle(*metadata.title);
        Console::printLine(QStringLiteral("✅ Updated title: ") + *metadata.title);
    }
    if (metadata.summary) {
        link->setSummary(*metadata.summary);
        Console::printLine(QStringLiteral("✅ Updated summary: ") + *metadata.summary);
    }
    if (metadata.iconData) {
        link->setIconData(*metadata.iconData);
        Console::printLine(QStringLiteral("✅ Updated icon: ") + QString::number(metadata.iconData->size())
            + QStringLiteral(" bytes"));
    } else {
        Console::printLine(QStringLiteral("⚠️ No icon data received"));
    }
    co_return metadata;
}
