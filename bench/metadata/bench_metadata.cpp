// Metadata fetch throughput against a slow loopback site, and the memory of a full cache.
#include "metadata/FetchPermits.h"
#include "metadata/HttpGet.h"
#include "metadata/MetadataCache.h"
#include "metadata/MetadataFetcher.h"
#include "support/TestHttpServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <httplib.h>
#include <malloc.h>
#include <memory>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;

namespace {
int pageCount = 300; // the first argument overrides it
constexpr auto serverDelay = 50ms;

QByteArray pngIcon(int size)
{
    // A gradient, so the file is as large as a typical site icon rather than a flat square.
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            image.setPixel(x, y, qRgba(x * 255 / size, y * 255 / size, (x * y) & 255, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct Scenario
{
    const char *name;
    const char *prefix;
    bool iconLink;
};

struct Row
{
    QString name;
    int fetches = 0;
    double requestsPerFetch = 0;
    double wallSeconds = 0;
    double idealSeconds = 0;
    int complete = 0;
    double cpuSeconds = 0;
};

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QCoro::Task<> fetchOne(
    QString url, std::shared_ptr<int> done, std::shared_ptr<int> complete, QEventLoop *loop)
{
    const LinkMetadata metadata = co_await MetadataFetcher::fetchMetadata(url);
    if (metadata.title && metadata.summary && metadata.iconData)
        ++*complete;
    if (++*done == pageCount)
        loop->quit();
}

Row run(TestHttpServer &server, std::atomic<int> &requests, const Scenario &scenario)
{
    MetadataCache::shared().clear();
    const int before = requests.load();
    auto done = std::make_shared<int>(0);
    auto complete = std::make_shared<int>(0);
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    for (int i = 0; i < pageCount; ++i)
        fetchOne(server.url(QStringLiteral("/%1/%2").arg(QLatin1String(scenario.prefix)).arg(i)), done,
            complete, &loop);
    if (*done < pageCount)
        loop.exec();
    Row row;
    row.name = QString::fromLatin1(scenario.name);
    row.fetches = pageCount;
    row.wallSeconds = timer.nsecsElapsed() / 1e9;
    row.requestsPerFetch = double(requests.load() - before) / pageCount;
    row.idealSeconds = row.requestsPerFetch * std::chrono::duration<double>(serverDelay).count() * pageCount
        / FetchPermits::defaultCount;
    row.complete = *complete;
    row.cpuSeconds = processCpuSeconds() - cpuBefore; // the server's threads included
    return row;
}

// One fetch at a time: what a single fetch costs on top of its requests.
void sequentialLatency(TestHttpServer &server, std::atomic<int> &requests, int count)
{
    MetadataCache::shared().clear();
    const int before = requests.load();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        QCoro::waitFor(MetadataFetcher::fetchMetadata(server.url(QStringLiteral("/with-icon/seq%1").arg(i))));
    const double perFetch = timer.nsecsElapsed() / 1e6 / count;
    const double perRequests = double(requests.load() - before) / count * serverDelay.count();
    std::printf("\nOne fetch at a time (%d fetches): %.1f ms each, of which %.1f ms is server delay\n", count,
        perFetch, perRequests);
}

size_t heapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

double cacheMegabytes(int entries, const QByteArray &icon)
{
    const size_t before = heapInUse();
    {
        MetadataCache cache;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < entries; ++i) {
            CachedMetadata entry;
            entry.title = QStringLiteral("Example page number %1 — a typical title").arg(i);
            entry.summary = QStringLiteral(
                "A one-line description of page %1, about as long as the ones sites put in their meta tags.")
                                .arg(i);
            if (!icon.isEmpty()) {
                QByteArray own = icon;
                own.detach(); // each fetch downloads its own copy
                entry.iconData = own;
            }
            entry.timestamp = now;
            cache.store(QStringLiteral("https://www.example-%1.com/some/path").arg(i), entry);
        }
        const size_t after = heapInUse();
        return double(after - before) / (1024.0 * 1024.0);
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::atoi(argv[1]) > 0)
        pageCount = std::atoi(argv[1]);

    MetadataNetwork::setFactory([] {
        static QNetworkAccessManager *manager = [] {
            auto *m = new QNetworkAccessManager(qApp);
            m->setProxy(QNetworkProxy::NoProxy);
            return m;
        }();
        return manager;
    });

    const QByteArray icon = pngIcon(32);
    std::atomic<int> requests = 0;
    TestHttpServer server;
    // Loopback with Nagle and delayed ACKs would add ~40 ms stalls that no real site shows.
    server.server().set_tcp_nodelay(true);
    server.server().set_pre_routing_handler([&requests](const httplib::Request &, httplib::Response &) {
        ++requests;
        std::this_thread::sleep_for(serverDelay);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.server().Get(
        R"(/(with-icon|no-icon)/(\w+))", [](const httplib::Request &req, httplib::Response &res) {
            const std::string n = req.matches[2];
            std::string html = "<html><head><title>Page " + n + "</title>"
                + "<meta name=\"description\" content=\"Description of page " + n + "\">";
            if (req.matches[1] == "with-icon")
                html += "<link rel=\"icon\" sizes=\"32x32\" href=\"/icons/" + n + ".png\">";
            html += "</head><body>" + std::string(20000, 'x') + "</body></html>";
            res.set_content(html, "text/html; charset=utf-8");
        });
    server.server().Get(R"(/icons/\d+\.png)", [&icon](const httplib::Request &, httplib::Response &res) {
        res.set_content(icon.toStdString(), "image/png");
    });
    if (!server.start()) {
        std::fprintf(stderr, "could not start the loopback server\n");
        return 1;
    }

    const Scenario scenarios[] = { { "pages declaring an icon", "with-icon", true },
        { "pages without icon (4 probes)", "no-icon", false } };
    std::printf("Fetching %d distinct pages, each request answered after %lld ms, %d permits\n\n", pageCount,
        qint64(serverDelay.count()), FetchPermits::defaultCount);
    std::printf("| %-30s | %7s | %12s | %8s | %8s | %8s | %8s |\n", "scenario", "fetches", "requests/fetch",
        "wall s", "ideal s", "over %", "CPU s");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(32, '-').c_str(), std::string(9, '-').c_str(),
        std::string(16, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str(),
        std::string(10, '-').c_str(), std::string(10, '-').c_str());
    for (const Scenario &scenario : scenarios) {
        const Row row = run(server, requests, scenario);
        std::printf("| %-30s | %7d | %14.2f | %8.2f | %8.2f | %+7.1f%% | %8.2f |\n", qPrintable(row.name),
            row.fetches, row.requestsPerFetch, row.wallSeconds, row.idealSeconds,
            100.0 * (row.wallSeconds - row.idealSeconds) / row.idealSeconds, row.cpuSeconds);
        if (scenario.iconLink && row.complete != pageCount)
            std::printf("  (only %d of %d fetches had title, summary and icon)\n", row.complete, pageCount);
    }
    sequentialLatency(server, requests, 20);
    server.stop();

    std::printf("\nMetadata cache memory (heap in use, glibc)\n\n");
    std::printf("| %-34s | %8s | %10s | %14s |\n", "entries", "count", "MiB", "bytes/entry");
    std::printf("|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(10, '-').c_str(),
        std::string(12, '-').c_str(), std::string(16, '-').c_str());
    const int entries = 10000;
    const double textOnly = cacheMegabytes(entries, {});
    const double withIcon = cacheMegabytes(entries, icon);
    std::printf("| %-34s | %8d | %10.2f | %14.0f |\n", "title + summary", entries, textOnly,
        textOnly * 1024 * 1024 / entries);
    const QString iconLabel = QStringLiteral("title + summary + %1-byte icon").arg(icon.size());
    std::printf("| %-34s | %8d | %10.2f | %14.0f |\n", qPrintable(iconLabel), entries, withIcon,
        withIcon * 1024 * 1024 / entries);
    return 0;
}
