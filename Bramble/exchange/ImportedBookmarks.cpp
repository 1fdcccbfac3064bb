#include "ImportedBookmarks.h"

#include "LinkAddress.h"

void ImportedBookmarks::skipDuplicates(const QSet<QString> &existingKeys)
{
    QSet<QString> seen = existingKeys;
    seen.reserve(existingKeys.size() + data.linkCount());
    QList<ExportGroup> kept;
    kept.reserve(data.groups.size());
    for (ExportGroup &group : data.groups) {
        const bool wasEmpty = group.bookmarks.isEmpty();
        QList<ExportItem> links;
        links.reserve(group.bookmarks.size());
        for (ExportItem &link : group.bookmarks) {
            const QString key = LinkAddress::normalized(link.urlString);
            if (seen.contains(key)) {
                ++skippedDuplicates;
                continue;
            }
            seen.insert(key);
            links.append(std::move(link));
        }
        if (links.isEmpty() && !wasEmpty)
            continue;
        group.bookmarks = std::move(links);
        kept.append(std::move(group));
    }
    data.groups = std::move(kept);
}

QSet<QString> ImportedBookmarks::keysOf(const QStringList &urlStrings)
{
    QSet<QString> keys;
    keys.reserve(urlStrings.size());
    for (const QString &urlString : urlStrings)
        keys.insert(LinkAddress::normalized(urlString));
    return keys;
}
