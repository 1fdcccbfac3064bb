#include "app/cli/WriteCommands.h"

#include "app/InstanceClient.h"
#include "app/LibraryRequests.h"
#include "app/SingleInstance.h"
#include "app/cli/CommandHost.h"
#include "app/cli/CommandOutput.h"
#include "exchange/DataExchange.h"
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
    QCoro::Task<Access> taking = takeOrHandOver(instance, LibraryRequests::addRequest(typed, arguments.group),
        std::chrono::seconds(30), [](const Message &answer) {
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
    const QString path = QFileInfo(arguments.positional.first()).absoluteFilePath();
    SingleInstance instance(ModelContainer::defaultStorePath());
    // The holder answers once the records are made, which takes a while for a large file.
    QCoro::Task<Access> taking = takeOrHandOver(instance, LibraryRequests::importRequest(path),
        std::chrono::milliseconds(-1), [](const Message &answer) {
            result(heldBy(answer, QStringLiteral("import")));
            result(QStringLiteral("Imported %1 groups and %2 links")
                       .arg(answer.value("groupCount", 0))
                       .arg(answer.value("linkCount", 0)));
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

    int lastPercent = -1;
    QObject::connect(
        &exchange, &DataExchange::importProgressChanged, &exchange, [&lastPercent](double progress) {
            const int percent = int(progress * 100);
            if (percent != lastPercent) {
                lastPercent = percent;
                result(QStringLiteral("Importing... %1%").arg(percent));
            }
        });
    int done = 0;
    DataExchange *queue = &exchange;
    exchange.setFetchFunction([&done, queue](QString urlString) -> QCoro::Task<LinkMetadata> {
        // Links handed over by other commands join the queue, so the total is counted as it goes.
        const qsizetype total = done + 1 + queue->pendingRefreshCount();
        const LinkMetadata found = co_await MetadataFetcher::fetchMetadata(urlString);
        result(QStringLiteral("Metadata %1/%2: %3").arg(++done).arg(total).arg(urlString));
        co_return found;
    });

    ImportResult imported;
    {
        CommandHost::Busy busy(&host);
        QCoro::Task<ImportResult> importing = exchange.importData(path);
        imported = co_await importing;
    }
    if (!imported.ok) {
        complain(imported.error.isEmpty() ? QStringLiteral("Unknown error") : imported.error);
        co_return 1;
    }
    result(
        QStringLiteral("Imported %1 groups and %2 links").arg(imported.groupCount).arg(imported.linkCount));
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
    co_return 0;
}
