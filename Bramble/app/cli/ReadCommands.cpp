#include "app/cli/ReadCommands.h"

#include "app/cli/CommandOutput.h"
#include "exchange/DataExchange.h"
#include "exchange/ExportData.h"
#include "exchange/NetscapeBookmarkWriter.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/GroupListModel.h"
#include "model/LinkAdder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

using CommandOutput::complain;
using CommandOutput::result;

namespace {

// Opened beside whoever holds the library; an import still under way is not shown.
std::unique_ptr<ModelContainer> openShared()
{
    QString error;
    auto container
        = ModelContainer::open(ModelContainer::defaultStorePath(), &error, ModelContainer::Access::Shared);
    if (!container)
        complain(QStringLiteral("Could not create ModelContainer: ") + error);
    return container;
}

BookmarkGroup *findGroup(ModelContext *context, const QString &name)
{
    for (BookmarkGroup *group : GroupListModel::ordered(context)) {
        if (group->name() == name)
            return group;
    }
    return nullptr;
}

QString text(const std::optional<QString> &value)
{
    return value ? *value : QStringLiteral("(none)");
}

nlohmann::ordered_json jsonText(const std::optional<QString> &value)
{
    return value ? nlohmann::ordered_json(value->toStdString()) : nlohmann::ordered_json(nullptr);
}

QString imageFormat(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return QString::fromLatin1(reader.format());
}

} // namespace

QCoro::Task<int> ReadCommands::list(CommandArguments arguments)
{
    auto container = openShared();
    if (!container)
        co_return 1;
    QList<BookmarkGroup *> groups = GroupListModel::ordered(container->mainContext());
    if (arguments.group) {
        BookmarkGroup *group = findGroup(container->mainContext(), *arguments.group);
        if (!group) {
            complain(QStringLiteral("No group is named \"%1\".").arg(*arguments.group));
            co_return 1;
        }
        groups = { group };
    }
    if (arguments.json) {
        ExportData data;
        for (const BookmarkGroup *group : std::as_const(groups)) {
            ExportGroup exported { group->name(), group->createdAt(), {} };
            for (const BookmarkItem *link : BookmarkListModel::ordered(group))
                exported.bookmarks.append(
                    { link->urlString(), link->title(), link->summary(), link->createdAt() });
            data.groups.append(std::move(exported));
        }
        QByteArray json = data.toJson();
        if (!json.endsWith('\n'))
            json += '\n';
        CommandOutput::resultBytes(json);
        co_return 0;
    }
    for (const BookmarkGroup *group : std::as_const(groups)) {
        const QList<BookmarkItem *> links = BookmarkListModel::ordered(group);
        result(QStringLiteral("%1 (%2)").arg(group->name()).arg(links.size()));
        for (const BookmarkItem *link : links) {
            const QString title = link->title().value_or(QString());
            result(QStringLiteral("  %1").arg(link->urlString())
                + (title.isEmpty() || title == link->urlString() ? QString() : QStringLiteral("  ") + title));
        }
    }
    co_return 0;
}

QCoro::Task<int> ReadCommands::metadata(CommandArguments arguments)
{
    const QString typed = arguments.positional.first();
    if (const std::optional<QString> scheme = LinkAdder::refusedScheme(typed)) {
        complain(QStringLiteral("Cannot fetch \"%1\": it is a %2: address, and Bramble reads only web "
                                "addresses (http and https).")
                     .arg(typed, *scheme));
        co_return 1;
    }
    const QString address = LinkAdder::normalizedAddress(typed);
    const LinkMetadata found = co_await MetadataFetcher::fetchMetadata(address);
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["title"] = jsonText(found.title);
        json["summary"] = jsonText(found.summary);
        if (found.iconData) {
            json["icon"] = { { "bytes", found.iconData->size() },
                { "format", imageFormat(*found.iconData).toStdString() } };
        } else {
            json["icon"] = nullptr;
        }
        result(QString::fromStdString(json.dump(2)));
        co_return 0;
    }
    result(QStringLiteral("Title: ") + text(found.title));
    result(QStringLiteral("Summary: ") + text(found.summary));
    if (found.iconData)
        result(QStringLiteral("Icon: %1 bytes (%2)")
                   .arg(found.iconData->size())
                   .arg(imageFormat(*found.iconData)));
    else
        result(QStringLiteral("Icon: (none)"));
    co_return 0;
}

QCoro::Task<int> ReadCommands::exportLibrary(CommandArguments arguments)
{
    auto container = openShared();
    if (!container)
        co_return 1;
    DataExchange exchange(container->mainContext());
    const ExportFormat format
        = arguments.format == QLatin1String("html") ? ExportFormat::Html : ExportFormat::Json;
    if (arguments.positional.first() == QStringLiteral("-")) {
        // Standard output carries the file itself, so the count goes to standard error.
        ExportData data;
        QByteArray bytes;
        if (format == ExportFormat::Html) {
            QCoro::Task<ExportData> collecting = exchange.browserExportData();
            data = co_await collecting;
            bytes = NetscapeBookmarkWriter::write(data);
        } else {
            data = exchange.exportDocument().data;
            bytes = data.toJson();
        }
        if (!CommandOutput::resultBytes(bytes)) {
            complain(QStringLiteral("Could not write the export to standard output: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
            co_return 1;
        }
        complain(QStringLiteral("Exported %1 groups and %2 links to standard output")
                     .arg(data.groups.size())
                     .arg(data.linkCount()));
        co_return 0;
    }
    const QString path = QFileInfo(arguments.positional.first()).absoluteFilePath();
    const ExportResult written = co_await exchange.exportData(path, format);
    // The failure has been printed already, like every diagnostic line, on standard error.
    if (!written.ok)
        co_return 1;
    result(QStringLiteral("Exported %1 groups and %2 links to %3")
               .arg(written.groupCount)
               .arg(written.linkCount)
               .arg(path));
    co_return 0;
}
