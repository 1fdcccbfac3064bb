#pragma once

#include "metadata/LinkMetadata.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

class BookmarkGroup;
class BookmarkItem;
class ModelContext;

// Adding a link the way the add-link alert does it, for every place that adds one.
namespace LinkAdder {

// Shown until the page's own summary arrives.
inline const QString placeholderSummary = QStringLiteral("正在获取信息...");

// Text that does not begin with "http" gets "https://" in front.
QString normalizedAddress(const QString &text);

// Creates the link after the group's last one, with its address as title and the placeholder
// summary, saves and sends "link_added". Null when the text is empty or the group is gone.
BookmarkItem *addLink(ModelContext *context, BookmarkGroup *group, const QString &text);

// Fetches the page's metadata and writes each field that arrived into the link, with the
// console trail; a link deleted meanwhile is left alone. Returns what the fetch found.
QCoro::Task<LinkMetadata> fillMetadata(QPointer<BookmarkItem> link, QString urlString);

} // namespace LinkAdder
