#pragma once

#include "metadata/LinkMetadata.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class BookmarkGroup;
class BookmarkItem;
class ModelContext;

// Adding a link the way the add-link alert does it, for every place that adds one: the alert,
// the edit sheet's address rule, the command line and links handed over by other processes.
namespace LinkAdder {

// Shown until the page's own summary arrives.
inline const QString placeholderSummary = QStringLiteral("正在获取信息...");

// The scheme the text begins with, in lower case and without its colon ("ftp" for
// "ftp://host/x", "mailto" for "mailto:a@b"); empty when it has none. A host with a port
// ("localhost:8080/x") has no scheme.
QString schemeOf(const QString &text);
// The scheme of text when it is one Bramble does not keep (anything but http and https);
// nothing when the text has no scheme or a web one.
std::optional<QString> refusedScheme(const QString &text);
// Text without a scheme gets "https://" in front; any other text is returned as it is. The
// text is never trimmed or lower-cased.
QString normalizedAddress(const QString &text);
// Whether the text, once normalised, is an http or https address with a well-formed host and
// nothing a browser would refuse, such as a space ("not a url", "https://", "a b.example").
bool becomesWebAddress(const QString &text);

enum class Failure {
    None,
    EmptyAddress,
    // The text has a scheme other than http or https.
    RefusedScheme,
    NoSuchGroup,
    // No store, or the group is gone.
    Unavailable,
};

struct Outcome
{
    BookmarkItem *link = nullptr;
    Failure failure = Failure::None;
    // The refused scheme, for RefusedScheme.
    QString scheme;
    // The group the link went to.
    QString groupName;
};

// Creates the link after the group's last one, with its address as title and the placeholder
// summary, saves and sends "link_added". Refuses empty text and other schemes, changing nothing.
Outcome addLink(ModelContext *context, BookmarkGroup *group, const QString &text);
// The same into the first group of that name in sidebar order, or without a name into the
// first group of the sidebar, or into a new "默认分组" when the store has none. A failure
// changes nothing: no group is created for a link that is refused.
Outcome addToGroup(ModelContext *context, const std::optional<QString> &groupName, const QString &text);

// Fetches the page's metadata and writes each field that arrived into the link, with the
// console trail; a link deleted meanwhile is left alone. Returns what the fetch found.
QCoro::Task<LinkMetadata> fillMetadata(QPointer<BookmarkItem> link, QString urlString);

using FetchFunction = std::function<QCoro::Task<LinkMetadata>(QString urlString)>;
// The fetch fillMetadata uses; null restores MetadataFetcher::fetchMetadata. Lets tests add
// links under names that must never reach a resolver.
void setFetchFunction(FetchFunction fetch);

} // namespace LinkAdder
