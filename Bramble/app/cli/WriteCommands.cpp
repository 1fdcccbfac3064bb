#include "app/cli/WriteCommands.h"

#include "app/InstanceClient.h"
#include "app/LibraryRequests.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/cli/CommandHost.h"
#include "app/cli/CommandOutput.h"
#include "exchange/BrowserProfiles.h"
#include "exchange/DataExchange.h"
#include "exchange/MetadataRefresher.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/LinkAdder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/Telemetry.h"

#include <QCoroTimer>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <chrono>
#include <cstdlib>
#include <optional>

using CommandOutput::complain;
using CommandOutput::result;
using Message = InstanceProtocol::Message;

namespace {

constexpr std::chrono::milliseconds connectTimeout { 1000 };
constexpr std::chrono::milliseconds retryPause { 100 };
constexpr std::chrono::seconds savePatience { 10 };

// How long a command keeps trying while the holder of the library does not answer.
std::chrono::milliseconds lockWait()
{
    bool ok = false;
    const int configured = qEnvironmentVariableIntValue("BRAMBLE_LOCK_WAIT_MS", &ok);
    return std::chrono::milliseconds(ok && configured >= 0 ? configured : 3000);
}

QString heldBy(const Message &answer, const QString &what)
{
    if (InstanceProtocol::text(answer, "host") == QLatin1String(InstanceProtocol::windowHost))
        return QStringLiteral("Bramble's window is open; the %1 was handed to it.").arg(what);
    return QStringLiteral("Another bramble command is working on the library; the %1 was handed to it.")
        .arg(what);
}

struct Access
{
    // The library is ours to change.
    bool holding = false;
    // Otherwise the command's exit status.
    int status = 1;
};

// Takes the library, or hands the request to whoever holds it and prints what came back.
QCoro::Task<Access> takeOrHandOver(SingleInstance &instance, Message request,
    std::chrono::milliseconds answerTimeout, std::function<void(const Message &answer)> printAnswer)
{
    const QDeadlineTimer deadline(lockWait());
    for (;;) {
        switch (instance.acquire()) {
        case SingleInstance::Role::Primary:
            co_return Access { true, 0 };
        case SingleInstance::Role::Unavailable:
            complain(QStringLiteral("Could not lock the library at %1.").arg(instance.storePath()));
            co_return Access {};
        case SingleInstance::Role::Secondary:
            break;
        }
        QCoro::Task<InstanceClient::Reply> sending = InstanceClient::send(
            SingleInstance::serverName(instance.storePath()), request, connectTimeout, answerTimeout);
        const InstanceClient::Reply reply = co_await sending;
        if (reply.outcome == InstanceClient::Outcome::NoAnswer) {
            // It may have been done: trying again could do it twice.
            complain(QStringLiteral("Bramble took the request but did not answer; look at the library "
                                    "before trying again."));
            co_return Access {};
        }
        if (reply.outcome == InstanceClient::Outcome::Answered) {
            if (InstanceProtocol::isOk(reply.answer)) {
                printAnswer(reply.answer);
                co_return Access { false, 0 };
            }
            if (!InstanceProtocol::mayRetry(reply.answer)) {
                complain(InstanceProtocol::text(reply.answer, "error"));
                co_return Access {};
            }
        }
        if (deadline.hasExpired()) {
            complain(
                QStringLiteral("Bramble holds the library at %1 but does not answer; nothing was changed.")
                    .arg(instance.storePath()));
            co_return Access {};
        }
        co_await QCoro::sleepFor(retryPause);
    }
}

std::unique_ptr<ModelContainer> openOwned()
{
    QString error;
    auto container = ModelContainer::open(ModelContainer::defaultStorePath(), &error);
    if (!container) {
        complain(QStringLiteral("Could not create ModelContainer: ") + error);
        return container;
    }
    // The command reports what the window would.
    Telemetry::start();
    return container;
}

QString text(const std::optional<QString> &value)
{
    return value ? *value : QStringLiteral("(none)");
}

// Each link whose fetch has ended, on standard error, counted against what is left.
void reportRefresh(DataExchange &exchange)
{
    DataExchange *queue = &exchange;
    QObject::connect(exchange.refresher(), &MetadataRefresher::linkRefreshed, &exchange,
        [queue](const QString &urlString, int done) {
            complain(QStringLiteral("Metadata %1/%2: %3")
                         .arg(done)
                         .arg(done + queue->remainingRefreshCount())
                         .arg(urlString));
        });
}

// The first Ctrl+C (or SIGTERM, SIGHUP) lets the fetches under way end and starts no other;
// the command then saves and exits 130. A second one saves what has arrived and exits at once.
void stopOnTermination(TerminationSignals &termination, DataExchange &exchange, bool *interrupted)
{
    DataExchange *queue = &exchange;
    QObject::connect(&termination, &TerminationSignals::received, &exchange, [queue, interrupted](int) {
        if (!*interrupted) {
            *interrupted = true;
            complain(QStringLiteral("Stopping after the fetches under way (Ctrl+C again to stop now)..."));
            queue->setRefreshAfterImport(false);
            queue->stopRefresh();
            return;
        }
        QString error;
        if (ModelContext *context = queue->context(); context && !context->saveWaiting(savePatience, &error))
            complain(QStringLiteral("Could not save the library: ") + error);
        std::_Exit(130);
    });
}

// After a stop: the links still waiting stay queued in the store.
int reportStopped(const DataExchange &exchange)
{
    complain(QStringLiteral("Stopped. %1 links still wait for their metadata; bramble refresh fetches them.")
                 .arg(exchange.remainingRefreshCount()));
    return 130;
}

// A writer's last steps: lets the host finish (or hand the library to a window), saves, and reports a
// stop. Empty when the command ran to its end and prints its own result.
QCoro::Task<std::optional<int>> endHolding(
    CommandHost &host, ModelContext *context, DataExchange &exchange, const bool *interrupted)
{
    QCoro::Task<> finishing = host.finish();
    co_await finishing;
    if (host.handedOver()) {
        result(
            QStringLiteral("Bramble's window took over the library; it fetches the metadata of the %1 links "
                           "still waiting.")
                .arg(host.handedOverLinks()));
        co_return 0;
    }
    QString error;
    if (!context->saveWaiting(savePatience, &error)) {
        complain(QStringLiteral("Could not save the library: ") + error);
        co_return 1;
    }
    if (*interrupted)
        co_return reportStopped(exchange);
    co_return std::nullopt;
}

void printImported(const ImportResult &imported)
{
    result(
        QStringLiteral("Imported %1 groups and %2 links").arg(imported.groupCount).arg(imported.linkCount));
    for (const QString &note : imported.notes())
        result(note);
}

} // namespace

QCoro::Task<int> WriteCommands::add(CommandArguments arguments)
{
    const QString typed = arguments.positional.first();
    // Refused before the library is touched.
    if (typed.isEmpty() || LinkAdder::refusedScheme(typed)) {
        complain(LibraryRequests::addFailure(LinkAdder::addToGroup(nullptr, arguments.group, typed), typed));
        co_return 1;
    }
    SingleInstance instance(ModelContainer::defaultStorePath());
    QCoro::Task<Access> taking = takeOrHandOver(instance,
        LibraryRequests::addRequest(typed, arguments.group, arguments.allowDuplicate),
        std::chrono::seconds(30), [](const Message &answer) {
            if (answer.contains("duplicate"))
                complain(InstanceProtocol::text(answer, "duplicate"));
            result(heldBy(answer, QStringLiteral("link")));
            result(QStringLiteral("Added %1 to %2")
                       .arg(InstanceProtocol::text(answer, "url"), InstanceProtocol::text(answer, "group")));
        });
    const Access access = co_await taking;
    if (!access.holding)
        co_return access.status;

    auto container = openOwned();
    if (!container)
        co_return 1;
    ModelContext *context = container->mainContext();
    DataExchange exchange(context);
    CommandHost host(&instance, context, &exchange);

    const QString duplicate = LibraryRequests::duplicateNotice(context, typed, arguments.group);
    if (!duplicate.isEmpty()) {
        complain(duplicate);
        if (!arguments.allowDuplicate) {
            complain(LibraryRequests::duplicateRefusal());
            co_return 1;
        }
    }
    const LinkAdder::Outcome added = LinkAdder::addToGroup(context, arguments.group, typed);
    if (!added.link) {
        complain(LibraryRequests::addFailure(added, typed));
        co_return 1;
    }
    QPointer<BookmarkItem> link = added.link;
    const QString address = link->urlString();
    LinkMetadata metadata;
    {
        // A window that starts meanwhile waits for this link.
        CommandHost::Busy busy(&host);
        QCoro::Task<LinkMetadata> filling = LinkAdder::fillMetadata(link, address);
        metadata = co_await filling;
    }
    QCoro::Task<> finishing = host.finish();
    co_await finishing;
    QString error;
    if (!host.handedOver() && !context->saveWaiting(savePatience, &error)) {
        complain(QStringLiteral("Could not save the library: ") + error);
        co_return 1;
    }
    result(QStringLiteral("Added %1 to %2").arg(address, added.groupName));
    result(QStringLiteral("Title: ") + text(metadata.title));
    result(QStringLiteral("Summary: ") + text(metadata.summary));
    result(QStringLiteral("Icon: ")
        + (metadata.iconData ? QStringLiteral("%1 bytes").arg(metadata.iconData->size())
                             : QStringLiteral("(none)")));
    if (host.handedOver())
        result(QStringLiteral("Bramble's window took over the library."));
    co_return 0;
}

QCoro::Task<int> WriteCommands::importLibrary(CommandArguments arguments)
{
    QString path;
    if (arguments.from) {
        QString error;
        const auto profile = BrowserProfiles::choose(BrowserProfiles::find(*arguments.from), *arguments.from,
            arguments.profile.value_or(QString()), &error);
        if (!profile) {
            complain(error);
            co_return 1;
        }
        complain(QStringLiteral("Importing from %1").arg(profile->displayName()));
        path = profile->bookmarksPath;
    } else {
        path = QFileInfo(arguments.positional.first()).absoluteFilePath();
    }
    ImportOptions options;
    options.skipExisting = arguments.skipExisting;
    SingleInstance instance(ModelContainer::defaultStorePath());
    // The holder answers once the records are made, which takes a while for a large file.
    QCoro::Task<Access> taking
        = takeOrHandOver(instance, LibraryRequests::importRequest(path, !arguments.noRefresh, options),
            std::chrono::milliseconds(-1), [](const Message &answer) {
                result(heldBy(answer, QStringLiteral("import")));
                ImportResult imported;
                imported.groupCount = answer.value("groupCount", 0);
                imported.linkCount = answer.value("linkCount", 0);
                imported.skippedDuplicates = answer.value("skippedDuplicates", 0);
                imported.skippedNonWeb = answer.value("skippedNonWeb", 0);
                printImported(imported);
            });
    const Access access = co_await taking;
    if (!access.holding)
        co_return access.status;

    auto container = openOwned();
    if (!container)
        co_return 1;
    ModelContext *context = container->mainContext();
    DataExchange exchange(context);
    CommandHost host(&instance, context, &exchange);

    // Progress is not a result: standard output stays free for what the command prints at the end.
    int lastPercent = -1;
    QObject::connect(
        &exchange, &DataExchange::importProgressChanged, &exchange, [&lastPercent](double progress) {
            const int percent = int(progress * 100);
            if (percent != lastPercent) {
                lastPercent = percent;
                complain(QStringLiteral("Importing... %1%").arg(percent));
            }
        });
    reportRefresh(exchange);
    exchange.setRefreshAfterImport(!arguments.noRefresh);
    TerminationSignals termination;
    bool interrupted = false;
    stopOnTermination(termination, exchange, &interrupted);

    ImportResult imported;
    {
        CommandHost::Busy busy(&host);
        QCoro::Task<ImportResult> importing = exchange.importData(path, options);
        imported = co_await importing;
    }
    if (!imported.ok) {
        complain(imported.error.isEmpty() ? QStringLiteral("Unknown error") : imported.error);
        co_return 1;
    }
    printImported(imported);
    QCoro::Task<std::optional<int>> ending = endHolding(host, context, exchange, &interrupted);
    if (const std::optional<int> status = co_await ending)
        co_return *status;
    if (arguments.noRefresh)
        result(QStringLiteral("%1 links wait for their metadata; bramble refresh fetches them.")
                   .arg(exchange.remainingRefreshCount()));
    co_return 0;
}

QCoro::Task<int> WriteCommands::refresh(CommandArguments arguments)
{
    SingleInstance instance(ModelContainer::defaultStorePath());
    QCoro::Task<Access> taking
        = takeOrHandOver(instance, LibraryRequests::refreshRequest(arguments.group, arguments.all),
            std::chrono::seconds(30), [](const Message &answer) {
                result(heldBy(answer, QStringLiteral("refresh")));
                result(QStringLiteral("%1 links wait for their metadata.").arg(answer.value("waiting", 0)));
            });
    const Access access = co_await taking;
    if (!access.holding)
        co_return access.status;

    auto container = openOwned();
    if (!container)
        co_return 1;
    ModelContext *context = container->mainContext();
    DataExchange exchange(context);
    CommandHost host(&instance, context, &exchange);
    BookmarkGroup *group = nullptr;
    if (arguments.group) {
        group = LibraryRequests::groupNamed(context, *arguments.group);
        if (!group) {
            complain(QStringLiteral("No group is named \"%1\".").arg(*arguments.group));
            co_return 1;
        }
    }
    reportRefresh(exchange);
    TerminationSignals termination;
    bool interrupted = false;
    stopOnTermination(termination, exchange, &interrupted);
    int fetched = 0;
    QObject::connect(exchange.refresher(), &MetadataRefresher::linkRefreshed, &exchange,
        [&fetched](const QString &, int) { ++fetched; });

    // Only this group's links are worked; the others keep their place in the queue.
    exchange.refresher()->setGroup(group);
    if (arguments.all)
        exchange.refreshAll(group);
    else
        exchange.resumeRefresh();
    QCoro::Task<std::optional<int>> ending = endHolding(host, context, exchange, &interrupted);
    if (const std::optional<int> status = co_await ending)
        co_return *status;
    result(QStringLiteral("Fetched the metadata of %1 links.").arg(fetched));
    co_return 0;
}
