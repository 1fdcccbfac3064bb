#include "app/CommandLine.h"

#include "BuildConfig.h"
#include "app/BrambleApp.h"
#include "app/SingleInstance.h"
#include "exchange/DataExchange.h"
#include "exchange/ExportData.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/GroupListModel.h"
#include "model/LinkAdder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/Telemetry.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCoroSignal>
#include <QCoroTask>
#include <QFileInfo>
#include <QImageReader>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <unistd.h>

namespace {

const char *const usageText
    = "Usage: bramble [COMMAND] [OPTIONS]\n"
      "\n"
      "Without a command, starts the Bramble window.\n"
      "\n"
      "Commands:\n"
      "  list [--group NAME] [--json]   the groups in sidebar order and their links\n"
      "  add URL [--group NAME]         add a link and fetch its title, summary and icon\n"
      "  metadata URL [--json]          fetch an address's metadata without storing it\n"
      "  export FILE                    write the whole library to a JSON file\n"
      "  import FILE                    add the groups and links of a JSON file\n"
      "\n"
      "Options:\n"
      "  -h, --help                     show this help\n"
      "  -v, --version                  show the version\n";

const QStringList commands = { QStringLiteral("list"), QStringLiteral("add"), QStringLiteral("metadata"),
    QStringLiteral("export"), QStringLiteral("import") };

// Results go to the real standard output; everything else the program prints (the
// diagnostic lines of fetches, saves and imports) is sent to standard error, so that what a
// script reads is only the answer.
FILE *g_results = stdout;

void result(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), g_results);
    std::fflush(g_results);
}

void complain(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int usageError(const QString &problem)
{
    complain(QStringLiteral("bramble: ") + problem);
    std::fputs(usageText, stderr);
    return 2;
}

void separateResults()
{
    std::fflush(stdout);
    const int resultsFd = ::dup(STDOUT_FILENO);
    if (resultsFd < 0)
        return;
    FILE *results = ::fdopen(resultsFd, "w");
    if (!results) {
        ::close(resultsFd);
        return;
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    g_results = results;
}

struct Arguments
{
    QString command;
    QStringList positional;
    std::optional<QString> group;
    bool json = false;
};

// Parses what follows the command; returns an error text for anything it does not accept.
std::optional<QString> parse(const QStringList &words, Arguments *arguments)
{
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        if (word == QStringLiteral("--json")) {
            arguments->json = true;
        } else if (word == QStringLiteral("--group")) {
            if (i + 1 >= words.size())
                return QStringLiteral("--group needs a group name");
            arguments->group = words[++i];
        } else if (word.startsWith(QStringLiteral("--group="))) {
            arguments->group = word.mid(8);
        } else if (word == QStringLiteral("--")) {
            arguments->positional += words.mid(i + 1);
            break;
        } else if (word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            return QStringLiteral("unknown option %1").arg(word);
        } else {
            arguments->positional << word;
        }
    }
    const QString &command = arguments->command;
    const bool takesJson = command == QStringLiteral("list") || command == QStringLiteral("metadata");
    const bool takesGroup = command == QStringLiteral("list") || command == QStringLiteral("add");
    const qsizetype wanted = command == QStringLiteral("list") ? 0 : 1;
    if (arguments->json && !takesJson)
        return QStringLiteral("%1 does not take --json").arg(command);
    if (arguments->group && !takesGroup)
        return QStringLiteral("%1 does not take --group").arg(command);
    if (arguments->positional.size() != wanted) {
        if (wanted == 0)
            return QStringLiteral("list takes no arguments");
        return QStringLiteral("%1 needs exactly one %2")
            .arg(command,
                command == QStringLiteral("add") || command == QStringLiteral("metadata")
                    ? QStringLiteral("URL")
                    : QStringLiteral("FILE"));
    }
    return std::nullopt;
}

BookmarkGroup *findGroup(ModelContext *context, const QString &name)
{
    for (BookmarkGroup *group : GroupListModel::ordered(context)) {
        if (group->name() == name)
            return group;
    }
    return nullptr;
}

std::unique_ptr<ModelContainer> openStore()
{
    QString error;
    auto container = ModelContainer::open(ModelContainer::defaultStorePath(), &error);
    if (!container)
        complain(QStringLiteral("Could not create ModelContainer: ") + error);
    return container;
}

// Writing commands keep the app away from the store while they run, and refuse while it runs.
bool lockStore(SingleInstance &instance)
{
    switch (instance.acquire(false)) {
    case SingleInstance::Role::Primary:
        return true;
    case SingleInstance::Role::Secondary:
        complain(QStringLiteral("Bramble is running. Quit it first: the library can only be changed from one "
                                "place at a time."));
        return false;
    case SingleInstance::Role::Unavailable:
        complain(QStringLiteral("Could not lock the library at %1.").arg(ModelContainer::defaultStorePath()));
        return false;
    }
    return false;
}

// The library for a command that changes it, locked against the app, with the analytics
// client started so the command reports what the window would. Null when refused.
std::unique_ptr<ModelContainer> openForWriting(SingleInstance &instance)
{
    if (!lockStore(instance))
        return nullptr;
    auto container = openStore();
    if (container)
        Telemetry::start();
    return container;
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

QCoro::Task<int> list(Arguments arguments)
{
    auto container = openStore();
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
        const QByteArray json = data.toJson();
        std::fwrite(json.constData(), 1, size_t(json.size()), g_results);
        if (!json.endsWith('\n'))
            std::fputc('\n', g_results);
        std::fflush(g_results);
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

// Why an address given on the command line was not added; empty when it was.
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

QCoro::Task<int> add(Arguments arguments)
{
    const QString typed = arguments.positional.first();
    // Refused before the library is touched.
    if (typed.isEmpty() || LinkAdder::refusedScheme(typed)) {
        complain(addFailure(LinkAdder::addToGroup(nullptr, arguments.group, typed), typed));
        co_return 1;
    }
    SingleInstance instance(ModelContainer::defaultStorePath());
    auto container = openForWriting(instance);
    if (!container)
        co_return 1;
    ModelContext *context = container->mainContext();

    const LinkAdder::Outcome added = LinkAdder::addToGroup(context, arguments.group, typed);
    if (!added.link) {
        complain(addFailure(added, typed));
        co_return 1;
    }
    QPointer<BookmarkItem> link = added.link;
    const QString address = link->urlString();
    const LinkMetadata metadata = co_await LinkAdder::fillMetadata(link, address);
    QString error;
    if (!context->save(&error)) {
        complain(QStringLiteral("Could not save the library: ") + error);
        co_return 1;
    }
    result(QStringLiteral("Added %1 to %2").arg(address, added.groupName));
    result(QStringLiteral("Title: ") + text(metadata.title));
    result(QStringLiteral("Summary: ") + text(metadata.summary));
    result(QStringLiteral("Icon: ")
        + (metadata.iconData ? QStringLiteral("%1 bytes").arg(metadata.iconData->size())
                             : QStringLiteral("(none)")));
    co_return 0;
}

QCoro::Task<int> metadata(Arguments arguments)
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

QCoro::Task<int> exportLibrary(Arguments arguments)
{
    auto container = openStore();
    if (!container)
        co_return 1;
    DataExchange exchange(container->mainContext());
    const QString path = QFileInfo(arguments.positional.first()).absoluteFilePath();
    const ExportResult written = co_await exchange.exportData(path);
    if (!written.ok) {
        complain(written.error);
        co_return 1;
    }
    result(QStringLiteral("Exported %1 groups and %2 links to %3")
               .arg(written.groupCount)
               .arg(written.linkCount)
               .arg(path));
    co_return 0;
}

QCoro::Task<int> importLibrary(Arguments arguments)
{
    SingleInstance instance(ModelContainer::defaultStorePath());
    auto container = openForWriting(instance);
    if (!container)
        co_return 1;
    DataExchange exchange(container->mainContext());

    int lastPercent = -1;
    QObject::connect(
        &exchange, &DataExchange::importProgressChanged, &exchange, [&lastPercent](double progress) {
            const int percent = int(progress * 100);
            if (percent != lastPercent) {
                lastPercent = percent;
                result(QStringLiteral("Importing... %1%").arg(percent));
            }
        });
    int total = 0;
    int done = 0;
    exchange.setFetchFunction([&total, &done](QString urlString) -> QCoro::Task<LinkMetadata> {
        const LinkMetadata found = co_await MetadataFetcher::fetchMetadata(urlString);
        result(QStringLiteral("Metadata %1/%2: %3").arg(++done).arg(total).arg(urlString));
        co_return found;
    });
    bool refreshed = false;
    QObject::connect(
        &exchange, &DataExchange::metadataRefreshFinished, &exchange, [&refreshed] { refreshed = true; });

    const ImportResult imported
        = co_await exchange.importData(QFileInfo(arguments.positional.first()).absoluteFilePath());
    if (!imported.ok) {
        complain(imported.error.isEmpty() ? QStringLiteral("Unknown error") : imported.error);
        co_return 1;
    }
    total = imported.linkCount;
    result(
        QStringLiteral("Imported %1 groups and %2 links").arg(imported.groupCount).arg(imported.linkCount));
    if (!refreshed)
        co_await qCoro(&exchange, &DataExchange::metadataRefreshFinished);
    QString error;
    if (!container->mainContext()->save(&error)) {
        complain(QStringLiteral("Could not save the library: ") + error);
        co_return 1;
    }
    co_return 0;
}

QCoro::Task<> drive(std::function<QCoro::Task<int>()> body)
{
    const int status = co_await body();
    QCoreApplication::exit(status);
}

} // namespace

bool CommandLine::requested(int argc, char **argv)
{
    if (argc < 2)
        return false;
    const QString first = QString::fromLocal8Bit(argv[1]);
    if (first == QStringLiteral("-h") || first == QStringLiteral("--help") || first == QStringLiteral("-v")
        || first == QStringLiteral("--version"))
        return true;
    // Other options belong to the window (Qt's own, such as -platform).
    return !first.startsWith(QLatin1Char('-'));
}

int CommandLine::run(int argc, char **argv)
{
    separateResults();
    BrambleApp::setApplicationIdentity();
    QCoreApplication application(argc, argv);

    QStringList words = QCoreApplication::arguments().mid(1);
    const QString first = words.value(0);
    if (first == QStringLiteral("-h") || first == QStringLiteral("--help")) {
        std::fputs(usageText, g_results);
        std::fflush(g_results);
        return 0;
    }
    if (first == QStringLiteral("-v") || first == QStringLiteral("--version")) {
        result(QStringLiteral("bramble %1 (build %2)")
                   .arg(QLatin1String(BuildConfig::shortVersion), QLatin1String(BuildConfig::buildNumber)));
        return 0;
    }
    if (!commands.contains(first))
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first));

    Arguments arguments;
    arguments.command = words.takeFirst();
    if (const auto problem = parse(words, &arguments))
        return usageError(*problem);

    std::function<QCoro::Task<int>()> body;
    if (arguments.command == QStringLiteral("list"))
        body = [arguments] { return list(arguments); };
    else if (arguments.command == QStringLiteral("add"))
        body = [arguments] { return add(arguments); };
    else if (arguments.command == QStringLiteral("metadata"))
        body = [arguments] { return metadata(arguments); };
    else if (arguments.command == QStringLiteral("export"))
        body = [arguments] { return exportLibrary(arguments); };
    else
        body = [arguments] { return importLibrary(arguments); };

    QTimer::singleShot(0, &application, [body] { drive(body); });
    return QCoreApplication::exec();
}
