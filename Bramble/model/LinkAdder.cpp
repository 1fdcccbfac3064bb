#include "LinkAdder.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "DataSeeder.h"
#include "GroupListModel.h"
#include "ModelContext.h"
#include "metadata/MetadataFetcher.h"
#include "platform/AppSignals.h"
#include "platform/Console.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <limits>

namespace {
LinkAdder::FetchFunction g_fetch;
} // namespace

QString LinkAdder::schemeOf(const QString &text)
{
    // The generic form: a letter, then letters, digits, "+", "-" or ".", then a colon.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    // What follows the colon of "localhost:8080/x": a port, then the path or nothing.
    static const QRegularExpression port(QStringLiteral("^[0-9]+(?:[/?#]|$)"));
    const QRegularExpressionMatch match = scheme.match(text);
    if (!match.hasMatch())
        return QString();
    if (port.match(QStringView(text).mid(match.capturedEnd())).hasMatch())
        return QString();
    return match.captured(1).toLower();
}

std::optional<QString> LinkAdder::refusedScheme(const QString &text)
{
    const QString scheme = schemeOf(text);
    if (scheme.isEmpty() || scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return std::nullopt;
    return scheme;
}

QString LinkAdder::normalizedAddress(const QString &text)
{
    if (!schemeOf(text).isEmpty())
        return text;
    return QStringLiteral("https://") + text;
}

bool LinkAdder::becomesWebAddress(const QString &text)
{
    const QUrl url(normalizedAddress(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

LinkAdder::Outcome LinkAdder::addLink(ModelContext *context, BookmarkGroup *group, const QString &text)
{
    Outcome outcome;
    if (text.isEmpty()) {
        outcome.failure = Failure::EmptyAddress;
        return outcome;
    }
    if (const std::optional<QString> scheme = refusedScheme(text)) {
        outcome.failure = Failure::RefusedScheme;
        outcome.scheme = *scheme;
        return outcome;
    }
    if (!context || !group || group->isDeleted() || group->context() != context) {
        outcome.failure = Failure::Unavailable;
        return outcome;
    }
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
    // A failed save is not reported here: automatic saving retries it and says so.
    context->save();
    AppSignals::send(QStringLiteral("link_added"));
    outcome.link = link;
    outcome.groupName = group->name();
    return outcome;
}

LinkAdder::Outcome LinkAdder::addToGroup(
    ModelContext *context, const std::optional<QString> &groupName, const QString &text)
{
    Outcome outcome;
    // The address is judged before any group is looked for or made.
    if (text.isEmpty()) {
        outcome.failure = Failure::EmptyAddress;
        return outcome;
    }
    if (const std::optional<QString> scheme = refusedScheme(text)) {
        outcome.failure = Failure::RefusedScheme;
        outcome.scheme = *scheme;
        return outcome;
    }
    if (!context) {
        outcome.failure = Failure::Unavailable;
        return outcome;
    }
    const QList<BookmarkGroup *> groups = GroupListModel::ordered(context);
    BookmarkGroup *group = nullptr;
    if (groupName) {
        const auto found = std::find_if(groups.begin(), groups.end(),
            [&](const BookmarkGroup *candidate) { return candidate->name() == *groupName; });
        if (found == groups.end()) {
            outcome.failure = Failure::NoSuchGroup;
            outcome.groupName = *groupName;
            return outcome;
        }
        group = *found;
    } else if (!groups.isEmpty()) {
        group = groups.first();
    } else {
        group = new BookmarkGroup(DataSeeder::defaultGroupName);
        group->setSortOrder(0);
        context->insert(group);
    }
    return addLink(context, group, text);
}

QCoro::Task<LinkMetadata> LinkAdder::fillMetadata(QPointer<BookmarkItem> link, QString urlString)
{
    Console::printLine(QStringLiteral("🔍 Starting metadata fetch for: ") + urlString);
    // A copy: a coroutine lambda's captures live in the function object, which must outlast
    // the fetch even when the hook is replaced meanwhile.
    FetchFunction fetch = g_fetch;
    if (!fetch)
        fetch = [](QString address) { return MetadataFetcher::fetchMetadata(address); };
    const LinkMetadata metadata = co_await fetch(urlString);
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

void LinkAdder::setFetchFunction(FetchFunction fetch)
{
    g_fetch = std::move(fetch);
}
