#include "DataSeeder.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "ModelContext.h"
#include "metadata/MetadataFetcher.h"
#include "platform/Console.h"

#include <QList>
#include <QPointer>
#include <cstdio>

namespace {
const QStringList builtInAddresses
    = { QStringLiteral("https://www.apple.com.cn"), QStringLiteral("https://www.google.com") };
QStringList g_addresses = builtInAddresses;
DataSeeder::FetchFunction g_fetch;
int g_running = 0;

// Runs on the main thread, one link after the other. The links are held weakly: the user may
// delete one while its fetch is running, and then it is skipped.
QCoro::Task<> fillMetadata(QList<QPointer<BookmarkItem>> items, DataSeeder::FetchFunction fetch)
{
    ++g_running;
    for (const QPointer<BookmarkItem> &item : std::as_const(items)) {
        if (!item || item->isDeleted())
            continue;
        const QString urlString = item->urlString();
        const LinkMetadata metadata = co_await fetch(urlString);
        // Deleted objects linger until the next event-loop turn, so the flag is checked too.
        if (!item || item->isDeleted())
            continue;
        if (metadata.title)
            item->setTitle(metadata.title);
        if (metadata.summary)
            item->setSummary(metadata.summary);
        if (metadata.iconData)
            item->setIconData(metadata.iconData);
    }
    --g_running;
}
} // namespace

void DataSeeder::seedDefaultDataIfNeeded(ModelContext *context)
{
    if (!context) {
        Console::printLine(
            QStringLiteral("Failed to seed default data: ") + QStringLiteral("no store is open"));
        return;
    }
    if (context->groupCount() != 0)
        return;

    auto *group = new BookmarkGroup(defaultGroupName);
    group->setSortOrder(0);
    context->insert(group);

    QList<QPointer<BookmarkItem>> links;
    const QStringList addresses = defaultAddresses();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        auto *item = new BookmarkItem(addresses[i], group);
        item->setTitle(addresses[i]);
        item->setSummary(placeholderSummary);
        item->setSortOrder(i);
        context->insert(item);
        links.append(item);
    }

    QString error;
    if (!context->save(&error)) {
        Console::printLine(QStringLiteral("Failed to seed default data: ") + error);
        return;
    }
    Console::printLine(QStringLiteral("Default data seeded: Group '%1' with %2 links.")
                           .arg(defaultGroupName)
                           .arg(links.size()));

    FetchFunction fetch = g_fetch ? g_fetch : FetchFunction(&MetadataFetcher::fetchMetadata);
    // Not awaited by anyone: the task finishes on its own.
    fillMetadata(links, std::move(fetch));
}

QStringList DataSeeder::defaultAddresses()
{
    return g_addresses;
}

void DataSeeder::setDefaultAddresses(const QStringList &addresses)
{
    g_addresses = addresses.isEmpty() ? builtInAddresses : addresses;
}

void DataSeeder::setFetchFunction(FetchFunction fetch)
{
    g_fetch = std::move(fetch);
}

int DataSeeder::runningMetadataTasks()
{
    return g_running;
}
