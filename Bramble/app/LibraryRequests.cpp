#include "app/LibraryRequests.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DuplicateLinks.h"
#include "model/GroupListModel.h"
#include "model/ModelContext.h"

namespace LibraryRequests {

namespace {
    std::string utf8(const QString &text)
    {
        return text.toStdString();
    }
} // namespace

Message addRequest(const QString &text, const std::optional<QString> &groupName, bool allowDuplicate)
{
    Message request = InstanceProtocol::request(InstanceProtocol::add);
    request["url"] = utf8(text);
    if (allowDuplicate)
        request["allowDuplicate"] = true;
    if (groupName)
        request["group"] = utf8(*groupName);
    return request;
}

Message importRequest(const QString &absolutePath, bool refresh, const ImportOptions &options)
{
    Message request = InstanceProtocol::request(InstanceProtocol::import);
    request["path"] = utf8(absolutePath);
    if (!refresh)
        request["refresh"] = false;
    if (options.skipExisting)
        request["skipExisting"] = true;
    return request;
}

Message refreshRequest(const std::optional<QString> &groupName, bool all)
{
    Message request = InstanceProtocol::request(InstanceProtocol::refresh);
    if (groupName)
        request["group"] = utf8(*groupName);
    request["all"] = all;
    return request;
}

BookmarkGroup *groupNamed(ModelContext *context, const QString &name)
{
    if (!context)
        return nullptr;
    for (BookmarkGroup *group : GroupListModel::ordered(context)) {
        if (group->name() == name)
            return group;
    }
    return nullptr;
}

Message refresh(DataExchange *exchange, ModelContext *context, const Message &request)
{
    if (!exchange || !context)
        return InstanceProtocol::failure(QStringLiteral("The library is not open."));
    BookmarkGroup *group = nullptr;
    if (request.contains("group")) {
        const QString name = InstanceProtocol::text(request, "group");
        group = groupNamed(context, name);
        if (!group)
            return InstanceProtocol::failure(QStringLiteral("No group is named \"%1\".").arg(name));
    }
    const bool all = request.contains("all") && request["all"].is_boolean() && request["all"].get<bool>();
    int queued = 0;
    if (all)
        queued = exchange->refreshAll(group);
    else
        exchange->resumeRefresh();
    Message answer = InstanceProtocol::success();
    answer["queued"] = queued;
    answer["waiting"] = exchange->remainingRefreshCount();
    return answer;
}

QString duplicateNotice(ModelContext *context, const QString &text, const std::optional<QString> &groupName)
{
    if (!context || text.isEmpty() || LinkAdder::refusedScheme(text)
        || (groupName && !groupNamed(context, *groupName)))
        return QString();
    return DuplicateLinks::notice(DuplicateLinks::of(context)->find(text));
}

QString duplicateRefusal()
{
    return QStringLiteral("Not added; --allow-duplicate adds it anyway.");
}

QString addFailure(const LinkAdder::Outcome &outcome, const QString &text)
{
    switch (outcome.failure) {
    case LinkAdder::Failure::None:
        return QString();
    case LinkAdder::Failure::EmptyAddress:
        return QStringLiteral("Nothing to add: the address is empty.");
    case LinkAdder::Failure::RefusedScheme:
        return QStringLiteral("Cannot add \"%1\": it is a %2: address, and Bramble keeps only web "
                              "addresses (http and https).")
            .arg(text, outcome.scheme);
    case LinkAdder::Failure::NoSuchGroup:
        return QStringLiteral("No group is named \"%1\".").arg(outcome.groupName);
    case LinkAdder::Failure::Unavailable:
        return QStringLiteral("The library is not open.");
    }
    return QString();
}

Message add(ModelContext *context, const Message &request, const FetchStarter &startFetch)
{
    const QString text = InstanceProtocol::text(request, "url");
    std::optional<QString> groupName;
    if (request.contains("group"))
        groupName = InstanceProtocol::text(request, "group");
    const bool allowDuplicate = request.contains("allowDuplicate") && request["allowDuplicate"].is_boolean()
        && request["allowDuplicate"].get<bool>();
    const QString duplicate = duplicateNotice(context, text, groupName);
    if (!duplicate.isEmpty() && !allowDuplicate)
        return InstanceProtocol::failure(duplicate + QLatin1Char('\n') + duplicateRefusal());
    const LinkAdder::Outcome added = LinkAdder::addToGroup(context, groupName, text);
    if (!added.link)
        return InstanceProtocol::failure(addFailure(added, text));
    Message answer = InstanceProtocol::success();
    if (!duplicate.isEmpty())
        answer["duplicate"] = utf8(duplicate);
    answer["url"] = utf8(added.link->urlString());
    answer["group"] = utf8(added.groupName);
    if (startFetch)
        startFetch(added.link);
    return answer;
}

QCoro::Task<Message> import(DataExchange *exchange, Message request)
{
    if (!exchange)
        co_return InstanceProtocol::failure(QStringLiteral("The library is not open."));
    const QString path = InstanceProtocol::text(request, "path");
    const bool refresh = !(
        request.contains("refresh") && request["refresh"].is_boolean() && !request["refresh"].get<bool>());
    ImportOptions options;
    options.skipExisting = request.contains("skipExisting") && request["skipExisting"].is_boolean()
        && request["skipExisting"].get<bool>();
    QPointer<DataExchange> guard(exchange);
    exchange->setRefreshAfterImport(refresh);
    QCoro::Task<ImportResult> importing = exchange->importData(path, options);
    const ImportResult imported = co_await importing;
    if (guard)
        guard->setRefreshAfterImport(true);
    if (!imported.ok)
        co_return InstanceProtocol::failure(
            imported.error.isEmpty() ? QStringLiteral("Unknown error") : imported.error);
    Message answer = InstanceProtocol::success();
    answer["groupCount"] = imported.groupCount;
    answer["linkCount"] = imported.linkCount;
    answer["skippedDuplicates"] = imported.skippedDuplicates;
    answer["skippedNonWeb"] = imported.skippedNonWeb;
    co_return answer;
}

Message pendingToMessage(const QList<DataExchange::RefreshTarget> &targets)
{
    Message list = Message::array();
    for (const DataExchange::RefreshTarget &target : targets) {
        if (target.item)
            list.push_back({ { "id", target.item->id() }, { "mode", int(target.mode) } });
    }
    return list;
}

QList<DataExchange::RefreshTarget> pendingFromMessage(ModelContext *context, const Message &answer)
{
    QList<DataExchange::RefreshTarget> targets;
    const auto list = answer.find("pending");
    if (!context || list == answer.end() || !list->is_array())
        return targets;
    for (const Message &entry : *list) {
        if (!entry.is_object() || !entry.contains("id") || !entry["id"].is_number_integer())
            continue;
        BookmarkItem *item = context->item(entry["id"].get<qint64>());
        if (!item)
            continue;
        const bool overwrite = entry.contains("mode") && entry["mode"].is_number_integer()
            && entry["mode"].get<int>() == int(DataExchange::RefreshMode::Overwrite);
        targets.append({ item,
            overwrite ? DataExchange::RefreshMode::Overwrite : DataExchange::RefreshMode::FillMissing });
    }
    return targets;
}

} // namespace LibraryRequests
