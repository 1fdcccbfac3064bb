// The stored refresh queue worked against a loopback server that answers every request after
// 50 ms: how close 300 links come to the ideal of 300 x 50 ms shared by the three permits.
#include "exchange/DataExchange.h"
#include "metadata/FetchPermits.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QCoroSignal>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

constexpr int linkCount = 300;
constexpr int latencyMs = 50;

// One answer per connection, sent latencyMs after the request arrived.
class SlowServer : public QTcpServer
{
public:
    SlowServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    QTimer::singleShot(latencyMs, socket, [socket] {
                        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 32\r\n"
                                      "Connection: close\r\n\r\n<html><title>Slow</title></html>");
                        socket->disconnectFromHost();
                    });
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SlowServer server;
    if (!dir.isValid() || !server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot set up the benchmark\n");
        return 1;
    }
    QString error;
    auto container = ModelContainer::open(dir.filePath(QStringLiteral("bench.sqlite")), &error);
    if (!container) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ModelContext *context = container->mainContext();
    auto *group = new BookmarkGroup(QStringLiteral("Bench"));
    context->insert(group);
    QList<DataExchange::RefreshTarget> targets;
    for (int i = 0; i < linkCount; ++i) {
        auto *item = new BookmarkItem(
            QStringLiteral("http://127.0.0.1:%1/%2").arg(server.serverPort()).arg(i), group);
        targets.append({ item, DataExchange::RefreshMode::FillMissing });
    }
    context->save();

    QNetworkAccessManager network;
    DataExchange exchange(context);
    // One request a link, under the fetcher's own process-wide permits: what is measured is
    // how well the queue keeps the three permits busy.
    exchange.setFetchFunction([&network](QString urlString) -> QCoro::Task<LinkMetadata> {
        auto permit = co_await FetchPermits::shared().acquire();
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(urlString)));
        co_await qCoro(reply).waitForFinished();
        reply->deleteLater();
        LinkMetadata found;
        if (reply->error() == QNetworkReply::NoError)
            found.title = QStringLiteral("Slow");
        co_return found;
    });

    const auto start = std::chrono::steady_clock::now();
    exchange.enqueueRefresh(targets);
    if (exchange.isRefreshingMetadata())
        QCoro::waitFor(qCoro(&exchange, &DataExchange::metadataRefreshFinished));
    const double elapsed = Bench::msSince(start);
    const double ideal = double(linkCount) * latencyMs / 3;
    int titled = 0;
    for (BookmarkItem *item : group->bookmarks())
        titled += item->title() == QStringLiteral("Slow") ? 1 : 0;

    Bench::Table table;
    table.add(QStringLiteral("refresh 300 links, 50 ms latency, 3 permits: time"), Bench::ms(elapsed));
    table.add(QStringLiteral("refresh: ideal (300 x 50 ms / 3)"), Bench::ms(ideal));
    table.add(QStringLiteral("refresh: over the ideal"),
        QString::number((elapsed / ideal - 1) * 100, 'f', 1) + QStringLiteral(" %"),
        QStringLiteral("<= 15 %"));
    table.add(QStringLiteral("refresh: links filled in / left waiting"),
        QStringLiteral("%1 / %2").arg(titled).arg(context->refreshQueueSize()));
    table.print();
    return 0;
}
