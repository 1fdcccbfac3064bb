#include "app/cli/SearchCommand.h"

#include "app/cli/CommandOutput.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "search/LinkSearch.h"

#include <nlohmann/json.hpp>

using CommandOutput::complain;
using CommandOutput::result;

namespace {

nlohmann::ordered_json jsonText(const std::optional<QString> &value)
{
    return value ? nlohmann::ordered_json(value->toStdString()) : nlohmann::ordered_json(nullptr);
}

} // namespace

QCoro::Task<int> SearchCommand::run(CommandArguments arguments)
{
    QString error;
    // Opened beside whoever holds the library; an import still under way is not shown.
    auto container
        = ModelContainer::open(ModelContainer::defaultStorePath(), &error, ModelContainer::Access::Shared);
    if (!container) {
        complain(QStringLiteral("Could not create ModelContainer: ") + error);
        co_return 1;
    }
    ModelContext *context = container->mainContext();
    LinkSearch::Query query { arguments.positional.join(QLatin1Char(' ')), {}, 0 };
    if (arguments.group) {
        // Every group of that name: names are not unique.
        QList<qint64> ids;
        for (const BookmarkGroup *group : GroupListModel::ordered(context)) {
            if (group->name() == *arguments.group)
                ids << group->id();
        }
        if (ids.isEmpty()) {
            complain(QStringLiteral("No group is named \"%1\".").arg(*arguments.group));
            co_return 1;
        }
        query.groupIds = ids;
    }
    QSqlDatabase db = container->database();
    const std::optional<QList<LinkSearch::Hit>> hits = LinkSearch::find(db, query, &error);
    if (!hits) {
        complain(QStringLiteral("Could not search the library: ") + error);
        co_return 1;
    }
    // The limit counts the links shown: those of an unfinished import are not.
    QList<BookmarkItem *> links;
    for (const LinkSearch::Hit &hit : *hits) {
        if (arguments.limit && links.size() >= *arguments.limit)
            break;
        if (BookmarkItem *link = context->item(hit.itemId))
            links << link;
    }
    const auto groupName
        = [](const BookmarkItem *link) { return link->group() ? link->group()->name() : QString(); };
    if (arguments.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const BookmarkItem *link : std::as_const(links)) {
            nlohmann::ordered_json entry;
            entry["group"] = groupName(link).toStdString();
            entry["address"] = link->urlString().toStdString();
            entry["title"] = jsonText(link->title());
            entry["summary"] = jsonText(link->summary());
            entry["createdAt"] = link->createdAt().toUTC().toString(Qt::ISODate).toStdString();
            list.push_back(std::move(entry));
        }
        result(QString::fromStdString(list.dump(2)));
    } else {
        for (const BookmarkItem *link : std::as_const(links)) {
            const QString title = link->title().value_or(QString());
            result(QStringLiteral("%1  %2").arg(groupName(link), link->urlString())
                + (title.isEmpty() || title == link->urlString() ? QString() : QStringLiteral("  ") + title));
        }
    }
    co_return links.isEmpty() ? 1 : 0;
}
