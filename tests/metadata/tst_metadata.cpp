#include "TestSite.h"
#include "metadata/FetchPermits.h"
#include "metadata/HttpGet.h"
#include "metadata/LinkPreviewProvider.h"
#include "metadata/MetadataCache.h"
#include "metadata/MetadataFetcher.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QCoroTask>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QTemporaryFile>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <thread>

using namespace std::chrono_literals;

namespace {
const QByteArray svgIcon = QByteArrayLiteral(
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\"><rect width=\"16\" height=\"16\" "
    "fill=\"red\"/></svg>");

LinkMetadata fetchNow(const QString &url)
{
    return QCoro::waitFor(MetadataFetcher::fetchMetadata(url));
}

LinkPreviewResult previewNow(const QString &url)
{
    LinkPreviewProvider provider;
    return QCoro::waitFor(provider.fetch(QUrl(url)));
}

QCoro::Task<> fetchInto(QString url, std::shared_ptr<std::optional<LinkMetadata>> out)
{
    *out = co_await MetadataFetcher::fetchMetadata(url);
}

// Holds requests for chosen paths until opened; never longer than a few seconds.
class Gate
{
public:
    void wait(const std::string &path)
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, 10s, [&] { return m_open.count(path) > 0 || m_all; });
    }
    void open(const std::string &path)
    {
        std::lock_guard lock(m_mutex);
        m_open.insert(path);
        m_cv.notify_all();
    }
    void openAll()
    {
        std::lock_guard lock(m_mutex);
        m_all = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::set<std::string> m_open;
    bool m_all = false;
};

} // namespace

class MetadataTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MetadataNetwork::setFactory([] {
            thread_local QPointer<QNetworkAccessManager> manager;
            if (!manager) {
                manager = new QNetworkAccessManager(qApp);
                manager->setProxy(QNetworkProxy::NoProxy);
            }
            return manager.data();
        });
    }

    void init()
    {
        MetadataCache::shared().clear();
        MetadataCache::shared().setClock(nullptr);
        MetadataFetcher::setOptions(MetadataFetcher::Options {});
    }

    void cleanup()
    {
        // Every path gives its permit back.
        QTRY_COMPARE(FetchPermits::shared().available(), FetchPermits::defaultCount);
        QCOMPARE(FetchPermits::shared().waiting(), 0);
    }

    void cacheKeepsEntriesForAnHour()
    {
        MetadataCache cache;
        QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        cache.setClock([&] { return now; });
        cache.store(
            QStringLiteral("https://a.example/"), { QStringLiteral("A"), std::nullopt, std::nullopt, now });
        cache.store(
            QStringLiteral("https://a.example/"), { QStringLiteral("B"), std::nullopt, std::nullopt, now });
        cache.store(QStringLiteral("https://A.example/"), {}); // all fields absent, still an entry
        QCOMPARE(cache.count(), 2);
        QCOMPARE(cache.lookup(QStringLiteral("https://a.example/"))->title, QStringLiteral("B"));
        QVERIFY(cache.lookup(QStringLiteral("https://A.example/")).has_value());
        QVERIFY(!cache.lookup(QStringLiteral("https://a.example")).has_value()); // no normalising

        now = now.addSecs(3600);
        QVERIFY(cache.lookup(QStringLiteral("https://a.example/")).has_value());
        QCOMPARE(cache.lookup(QStringLiteral("https://a.example/"))->timestamp, now.addSecs(-3600));
        now = now.addSecs(1);
        QVERIFY(!cache.lookup(QStringLiteral("https://a.example/")).has_value());
        QVERIFY(!cache.contains(QStringLiteral("https://a.example/")));
    }

    void permitsAreFifoAndReleasedOnce()
    {
        FetchPermits permits(2);
        std::vector<int> order;
        std::vector<FetchPermits::Permit> held;
        auto take = [](FetchPermits *permits, int id, std::vector<int> *order,
                        std::vector<FetchPermits::Permit> *held) -> QCoro::Task<> {
            FetchPermits::Permit permit = co_await permits->acquire();
            order->push_back(id);
            held->push_back(std::move(permit));
        };
        std::vector<QCoro::Task<>> tasks;
        for (int id = 0; id < 5; ++id)
            tasks.push_back(take(&permits, id, &order, &held));
        QCOMPARE(order, (std::vector<int> { 0, 1 }));
        QCOMPARE(permits.available(), 0);
        QCOMPARE(permits.waiting(), 3);

        // Moving a permit does not give it back; releasing twice gives it back once.
        FetchPermits::Permit moved = std::move(held[0]);
        QCOMPARE(permits.waiting(), 3);
        moved.release();
        moved.release();
        QTRY_COMPARE(order.size(), size_t(3));
        QCOMPARE(order.back(), 2);
        QCOMPARE(permits.waiting(), 2);

        held[1].release();
        QTRY_COMPARE(order.size(), size_t(4));
        QCOMPARE(order.back(), 3);
        held.clear(); // destruction releases
        QTRY_COMPARE(order.size(), size_t(5));
        QCOMPARE(order.back(), 4);
        held.clear();
        QCOMPARE(permits.available(), 2);
        QCOMPARE(permits.waiting(), 0);
    }

    void descriptionPatterns()
    {
        TestSite site;
        site.serve("/both",
            "<html><head><title>Both</title><meta property=\"og:description\" content=\"from og\">"
            "<meta name=\"description\" content=\"from name\"></head></html>");
        site.serve("/og", "<head><meta  property=\"og:description\"\ncontent=\"only og\"></head>");
        site.serve("/upper", "<HEAD><META NAME=\"DESCRIPTION\" CONTENT=\"Shouted\"></HEAD>");
        site.serve("/single", "<head><meta name='description' content='single quoted'></head>");
        site.serve("/reversed", "<head><meta content=\"reversed\" name=\"description\"></head>");
        site.serve("/latin1", "<head><meta name=\"description\" content=\"Caf\xe9\"></head>",
            "text/html; charset=iso-8859-1");
        site.serve("/entity", "<head><meta name=\"description\" content=\"Fish &amp; Chips  \"></head>");
        QVERIFY(site.start());

        const LinkMetadata both = fetchNow(site.url(QStringLiteral("/both")));
        QCOMPARE(both.title, QStringLiteral("Both"));
        QCOMPARE(both.summary, QStringLiteral("from name"));
        QVERIFY(both.summaryFromPage);
        QCOMPARE(fetchNow(site.url(QStringLiteral("/og"))).summary, QStringLiteral("only og"));
        QCOMPARE(fetchNow(site.url(QStringLiteral("/upper"))).summary, QStringLiteral("Shouted"));
        // Not matched: the summary falls back to the host.
        QCOMPARE(fetchNow(site.url(QStringLiteral("/single"))).summary, QStringLiteral("127.0.0.1"));
        QVERIFY(!fetchNow(site.url(QStringLiteral("/single")))
                     .summaryFromPage); // also when served from the cache
        QVERIFY(fetchNow(site.url(QStringLiteral("/both"))).summaryFromPage);
        QCOMPARE(fetchNow(site.url(QStringLiteral("/reversed"))).summary, QStringLiteral("127.0.0.1"));
        // The scrape reads UTF-8 only.
        QCOMPARE(fetchNow(site.url(QStringLiteral("/latin1"))).summary, QStringLiteral("127.0.0.1"));
        // Verbatim: entity and trailing spaces kept.
        QCOMPARE(fetchNow(site.url(QStringLiteral("/entity"))).summary, QStringLiteral("Fish &amp; Chips  "));
    }

    void iconProbeSkipsNonImages()
    {
        const QByteArray png = imageBytes(32, 32, "PNG");
        TestSite site;
        site.serve("/page", "<html><head><title>No icon links</title></head></html>");
        site.serve("/favicon.ico", "<html><body>Not found, but 200</body></html>");
        site.serve("/apple-touch-icon.png", png, "image/png");
        QVERIFY(site.start());

        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/page")));
        QCOMPARE(result.iconData, png);
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 1);
        QCOMPARE(site.count(QStringLiteral("/apple-touch-icon.png")), 1);
        QCOMPARE(site.count(QStringLiteral("/favicon.png")), 0);
    }

    void providerFailureIsCachedWithItsSummary()
    {
        TestSite site;
        site.serve("/gone",
            "<head><title>Gone</title><meta name=\"description\" content=\"Still described\"></head>",
            "text/html", 404);
        QVERIFY(site.start());
        const QString url = site.url(QStringLiteral("/gone"));

        StdoutCapture output;
        const LinkMetadata first = fetchNow(url);
        QCOMPARE(output.lines(),
            QStringList {
                QStringLiteral("Bramble Error: Failed to fetch metadata for %1. Error: The server answered "
                               "with HTTP status 404.")
                    .arg(url) });
        // The 404 page is still scraped; no icon probe on this path.
        QCOMPARE(
            first, (LinkMetadata { std::nullopt, QStringLiteral("Still described"), std::nullopt, true }));
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 0);
        QCOMPARE(site.count(QStringLiteral("/gone")), 2);

        QCOMPARE(fetchNow(url), first);
        QCOMPARE(site.count(QStringLiteral("/gone")), 2);
    }

    void hostlessAddress()
    {
        const QString address = QStringLiteral("no-scheme-no-host");
        StdoutCapture output;
        const LinkMetadata result = fetchNow(address);
        QCOMPARE(output.lines(),
            (QStringList {
                QStringLiteral(
                    "Bramble Error: Failed to fetch metadata for no-scheme-no-host. Error: unsupported URL"),
                QStringLiteral("Failed to fetch HTML: unsupported URL") }));
        QCOMPARE(result, LinkMetadata {});
        QVERIFY(MetadataCache::shared().contains(address));
    }

    void onlyHttpAndHttpsAreFetched_data()
    {
        QTest::addColumn<QString>("address");
        QTemporaryFile local;
        QTest::newRow("unparsable") << QStringLiteral("http://exa mple.com/");
        QTest::newRow("empty") << QString();
        QTest::newRow("file") << QStringLiteral("file:///etc/hostname");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/pub/");
        QTest::newRow("data") << QStringLiteral("data:text/html,<meta name=\"description\" content=\"x\">");
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)");
        QTest::newRow("custom") << QStringLiteral("bramble-custom://127.0.0.1/");
    }

    void onlyHttpAndHttpsAreFetched()
    {
        QFETCH(QString, address);
        StdoutCapture output;
        QCOMPARE(fetchNow(address), LinkMetadata {});
        QCOMPARE(output.lines(), QStringList {});
        QVERIFY(!MetadataCache::shared().contains(address));
        QCOMPARE(FetchPermits::shared().available(), FetchPermits::defaultCount);
    }

    void localFileIsNeverRead()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("<head><title>Secret</title><meta name=\"description\" content=\"secret\"></head>");
        file.flush();
        const QString address = QUrl::fromLocalFile(file.fileName()).toString();
        QCOMPARE(fetchNow(address), LinkMetadata {});
        QVERIFY(!MetadataCache::shared().contains(address));
    }

    void fourthFetchWaitsForAPermit()
    {
        Gate gate;
        TestSite site;
        for (int i = 1; i <= 4; ++i) {
            const std::string path = "/page" + std::to_string(i);
            site.server().Get(path, [&gate, path](const httplib::Request &, httplib::Response &res) {
                gate.wait(path);
                res.set_content("<title>" + path + "</title>", "text/html");
            });
        }
        QVERIFY(site.start());

        std::vector<std::shared_ptr<std::optional<LinkMetadata>>> results;
        std::vector<QCoro::Task<>> tasks;
        for (int i = 1; i <= 4; ++i) {
            results.push_back(std::make_shared<std::optional<LinkMetadata>>());
            tasks.push_back(fetchInto(site.url(QStringLiteral("/page%1").arg(i)), results.back()));
        }
        QTRY_COMPARE(site.requests().size(), 3);
        QCOMPARE(FetchPermits::shared().available(), 0);
        QCOMPARE(FetchPermits::shared().waiting(), 1);
        QTest::qWait(200);
        QCOMPARE(site.count(QStringLiteral("/page4")), 0);

        gate.open("/page2");
        QTRY_VERIFY(results[1]->has_value());
        QCOMPARE((*results[1])->title, QStringLiteral("/page2"));
        QTRY_COMPARE(site.count(QStringLiteral("/page4")), 1);
        gate.openAll();
        for (const auto &result : results)
            QTRY_VERIFY(result->has_value());
        QCOMPARE((*results[3])->title, QStringLiteral("/page4"));
    }

    void cacheHitAt59MinutesMissAt61()
    {
        QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        MetadataCache::shared().setClock([&] { return now; });
        TestSite site;
        site.serve("/", "<title>Home</title>");
        QVERIFY(site.start());
        const QString url = site.url(QStringLiteral("/"));

        QCOMPARE(fetchNow(url).title, QStringLiteral("Home"));
        const int requests = site.requests().size();
        now = now.addSecs(59 * 60);
        QCOMPARE(fetchNow(url).title, QStringLiteral("Home"));
        QCOMPARE(site.requests().size(), requests);
        now = now.addSecs(2 * 60);
        QCOMPARE(fetchNow(url).title, QStringLiteral("Home"));
        QCOMPARE(site.requests().size(), 2 * requests);
        MetadataCache::shared().setClock(nullptr);
    }

    void slowProviderLosesTheRace()
    {
        const QByteArray png = imageBytes(16, 16, "PNG");
        TestSite site;
        // Only the link preview (which looks like a browser) is slow.
        site.server().Get("/slow", [](const httplib::Request &req, httplib::Response &res) {
            if (req.get_header_value("User-Agent").find("Chrome") != std::string::npos)
                std::this_thread::sleep_for(600ms);
            res.set_content(
                "<title>Too late</title><meta name=\"description\" content=\"In time\">", "text/html");
        });
        site.serve("/favicon.ico", png, "image/x-icon");
        QVERIFY(site.start());
        MetadataFetcher::Options options;
        options.raceTimeout = 100ms;
        MetadataFetcher::setOptions(options);

        StdoutCapture output;
        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/slow")));
        QCOMPARE(output.lines(), QStringList {});
        QCOMPARE(result, (LinkMetadata { std::nullopt, QStringLiteral("In time"), png, true }));
    }

    // The program's proportions, shortened: the preview's own time-out equals the race timer. A
    // page slower than both leaves the preview unanswered, and that is no error.
    void pageSlowerThanTheTimerIsNoError()
    {
        const QByteArray png = imageBytes(16, 16, "PNG");
        Gate gate;
        TestSite site;
        site.server().Get("/slow", [&gate](const httplib::Request &, httplib::Response &res) {
            gate.wait("/slow");
            res.set_content("<title>Too late</title>", "text/html");
        });
        site.serve("/favicon.ico", png, "image/x-icon");
        QVERIFY(site.start());
        MetadataFetcher::Options options;
        options.raceTimeout = options.providerTimeout = options.pageTimeout = 150ms;
        MetadataFetcher::setOptions(options);

        StdoutCapture output;
        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/slow")));
        gate.openAll();
        QCOMPARE(
            output.lines(), QStringList { QStringLiteral("Failed to fetch HTML: The request timed out.") });
        QCOMPARE(result, (LinkMetadata { std::nullopt, QStringLiteral("127.0.0.1"), png, false }));
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 1);
    }

    void declaredIconsFallBackInTurn()
    {
        const QByteArray good = imageBytes(64, 64, "PNG");
        const QByteArray probed = imageBytes(16, 16, "PNG", Qt::red);
        const QByteArray tooLarge = imageBytes(600, 600, "BMP");
        QVERIFY(tooLarge.size() > LinkPreviewProvider::maxIconBytes);
        TestSite site;
        // Missing, not an image, too big, the missing one again, then one that works.
        site.serve("/chain",
            "<head><link rel=icon sizes=180x180 href=/missing.png><link rel=icon sizes=120x120 "
            "href=/page.png>"
            "<link rel=icon sizes=96x96 href=/large.bmp><link rel=icon sizes=80x80 href=/missing.png>"
            "<link rel=icon sizes=64x64 href=/good.png></head>");
        // Four that fail: the fifth is not tried, the probe paths are.
        site.serve("/exhausted",
            "<head><link rel=icon sizes=180x180 href=/missing.png><link rel=icon sizes=120x120 "
            "href=/page.png>"
            "<link rel=icon sizes=96x96 href=/large.bmp><link rel=icon sizes=72x72 href=/gone.png>"
            "<link rel=icon sizes=64x64 href=/fifth.png></head>");
        site.serve("/page.png", "<html>Not an image</html>", "image/png");
        site.serve("/large.bmp", tooLarge, "image/bmp");
        site.serve("/good.png", good, "image/png");
        site.serve("/fifth.png", good, "image/png");
        site.serve("/favicon.ico", probed, "image/x-icon");
        QVERIFY(site.start());

        QCOMPARE(previewNow(site.url(QStringLiteral("/chain"))).preview.iconData, good);
        QCOMPARE(site.count(QStringLiteral("/missing.png")), 1);
        QCOMPARE(site.count(QStringLiteral("/page.png")), 1);
        QCOMPARE(site.count(QStringLiteral("/large.bmp")), 1);

        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/exhausted")));
        QCOMPARE(result.iconData, probed);
        QCOMPARE(site.count(QStringLiteral("/gone.png")), 1);
        QCOMPARE(site.count(QStringLiteral("/fifth.png")), 0);
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 1);
    }

    void ipv6LiteralHost()
    {
        const QByteArray png = imageBytes(16, 16, "PNG");
        Ipv6TestSite site;
        site.serve("/page", "<head><title>Six</title></head>");
        site.serve("/favicon.ico", png, "image/x-icon");
        if (!site.start())
            QSKIP("This machine has no IPv6 loopback.");

        StdoutCapture output;
        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/page")));
        QCOMPARE(output.lines(), QStringList {});
        QCOMPARE(result, (LinkMetadata { QStringLiteral("Six"), QStringLiteral("[::1]"), png, false }));
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 1);
    }

    void providerTitleChoice_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("title");
        QTest::newRow("og first") << QByteArray(
            "<html><head><title>Plain</title><meta name=\"twitter:title\" "
            "content=\"Bird\"><meta property=\"og:title\" content=\"Graph\">")
                                  << QByteArray("text/html") << QStringLiteral("Graph");
        QTest::newRow("twitter next")
            << QByteArray("<title>Plain</title><meta property=\"twitter:title\" "
                          "content=\"Bird\"><meta property=\"og:title\" content=\"  \">")
            << QByteArray("text/html") << QStringLiteral("Bird");
        QTest::newRow("title last") << QByteArray(
            "<title>\n   Caf&eacute; \t &amp;\n  Bar  </title><svg><title>No</title></svg>")
                                    << QByteArray("text/html") << QStringLiteral("Café & Bar");
        QTest::newRow("http charset")
            << QByteArray("<title>Caf\xe9 \x93quoted\x94</title>")
            << QByteArray("text/html; charset=windows-1252") << QStringLiteral("Café “quoted”");
        QTest::newRow("meta charset") << QByteArray("<meta charset=\"iso-8859-1\"><title>Gr\xfc\xdf"
                                                    "e</title>")
                                      << QByteArray("text/html") << QStringLiteral("Grüße");
        QTest::newRow("http-equiv") << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                                                  "charset=Shift_JIS\"><title>\x93\xfa\x96\x7b</title>")
                                    << QByteArray("text/html") << QStringLiteral("日本");
        QTest::newRow("header wins") << QByteArray(
            "<meta charset=\"windows-1252\"><title>\xc3\xa9t\xc3\xa9</title>")
                                     << QByteArray("text/html; charset=utf-8") << QStringLiteral("été");
        QTest::newRow("utf-8 default") << QByteArray("<title>\xe4\xb8\xad\xe6\x96\x87</title>")
                                       << QByteArray("text/html") << QStringLiteral("中文");
    }

    void providerTitleChoice()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, title);
        TestSite site;
        site.serve("/", body, contentType.toStdString());
        QVERIFY(site.start());
        const LinkPreviewResult result = previewNow(site.url(QStringLiteral("/")));
        QVERIFY(result.ok);
        QCOMPARE(result.preview.title, title);
    }

    void providerIconChoice()
    {
        const QByteArray small = imageBytes(16, 16, "PNG");
        const QByteArray large = imageBytes(180, 180, "PNG");
        TestSite site;
        site.serve("/sizes",
            "<head><link rel=\"stylesheet\" href=\"/style.css\"><link rel=\"mask-icon\" href=\"/mask.svg\">"
            "<link rel=\"shortcut icon\" href=\"/favicon.ico\"><link rel=\"icon\" sizes=\"16x16\" "
            "href=\"/i16.png\">"
            "<link rel=\"apple-touch-icon\" sizes=\"180x180\" href=\"/i180.png\">"
            "<link rel=\"apple-touch-icon-precomposed\" sizes=\"57x57\" href=\"/i57.png\"></head>");
        site.serve("/svg",
            "<head><link rel=\"apple-touch-icon\" sizes=\"180x180\" href=\"/i180.png\">"
            "<link rel=\"icon\" type=\"image/svg+xml\" href=\"/icon.svg\"></head>");
        site.redirect("/moved", "/deep/page.html");
        site.serve("/deep/page.html", "<head><link rel=\"icon\" href=\"icons/relative.png\"></head>");
        site.serve("/inline",
            "<head><link rel=\"icon\" href=\"data:image/png;base64," + small.toBase64() + "\"></head>");
        site.serve("/notimage", "<head><link rel=\"icon\" href=\"/broken.png\"></head>");
        site.serve("/i16.png", small, "image/png");
        site.serve("/i180.png", large, "image/png");
        site.serve("/icon.svg", svgIcon, "image/svg+xml");
        site.serve("/deep/icons/relative.png", small, "image/png");
        site.serve("/broken.png", "<html>Not an image</html>", "image/png");
        QVERIFY(site.start());

        QCOMPARE(previewNow(site.url(QStringLiteral("/sizes"))).preview.iconData, large);
        QCOMPARE(site.count(QStringLiteral("/i16.png")), 0);
        QCOMPARE(previewNow(site.url(QStringLiteral("/svg"))).preview.iconData, svgIcon);
        QCOMPARE(previewNow(site.url(QStringLiteral("/moved"))).preview.iconData, small);
        QCOMPARE(previewNow(site.url(QStringLiteral("/inline"))).preview.iconData, small);
        const LinkPreviewResult broken = previewNow(site.url(QStringLiteral("/notimage")));
        QVERIFY(broken.ok);
        QVERIFY(!broken.preview.iconData.has_value());
    }

    void providerFailures()
    {
        TestSite site;
        site.serve("/error", "<title>Oops</title>", "text/html", 500);
        std::atomic<int> deepest = 0;
        site.server().Get("/loop", [&deepest](const httplib::Request &req, httplib::Response &res) {
            const int n = req.has_param("n") ? std::stoi(req.get_param_value("n")) : 0;
            deepest = std::max(deepest.load(), n);
            res.set_redirect("/loop?n=" + std::to_string(n + 1));
        });
        site.redirect("/local", "file:///etc/hostname");
        QVERIFY(site.start());
        QVERIFY(!previewNow(site.url(QStringLiteral("/error"))).ok);
        const auto loop = previewNow(site.url(QStringLiteral("/loop")));
        QCOMPARE(loop.error, QStringLiteral("too many HTTP redirects"));
        QCOMPARE(deepest.load(), 10); // ten redirects followed, not one more
        QVERIFY(!previewNow(site.url(QStringLiteral("/local"))).ok);
        QVERIFY(!previewNow(QStringLiteral("http://127.0.0.1:1/")).ok);
    }

    void utf8CutBack()
    {
        const QByteArray chinese("\xe4\xb8\xad"); // three bytes
        QCOMPARE(cutToCompleteUtf8("abc"), QByteArray("abc"));
        QCOMPARE(cutToCompleteUtf8("ab" + chinese), "ab" + chinese);
        QCOMPARE(cutToCompleteUtf8("ab" + chinese.left(2)), QByteArray("ab"));
        QCOMPARE(cutToCompleteUtf8("ab" + chinese.left(1)), QByteArray("ab"));
        QCOMPARE(cutToCompleteUtf8(QByteArray("ab\xf0\x9f\x98")), QByteArray("ab"));
        QCOMPARE(cutToCompleteUtf8(QByteArray("ab\xc3")), QByteArray("ab"));
        QCOMPARE(cutToCompleteUtf8(QByteArray("ab\xc3\xa9")), QByteArray("ab\xc3\xa9"));
    }

    void pageBodyIsBounded()
    {
        // The cut at 2 MiB falls inside a three-byte character.
        QByteArray page = "<head><meta name=\"description\" content=\"Big page\"></head><body>";
        page.append(QByteArray(MetadataFetcher::maxPageBytes - 1 - page.size(), 'x'));
        page.append("\xe4\xb8\xad");
        page.append(QByteArray(1024 * 1024, 'y'));
        TestSite site;
        site.serve("/big", page);
        QVERIFY(site.start());

        const HttpGetResult raw = QCoro::waitFor(
            httpGet(MetadataNetwork::manager(), QUrl(site.url(QStringLiteral("/big"))), HttpGetOptions {}));
        QVERIFY(raw.received);
        QVERIFY(raw.truncated);
        QCOMPARE(raw.body.size(), MetadataFetcher::maxPageBytes);

        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/big")));
        QCOMPARE(result.summary, QStringLiteral("Big page"));
    }

    void iconBodyIsBounded()
    {
        // 600x600 BMP is just over 1 MiB, 500x500 just under.
        const QByteArray tooLarge = imageBytes(600, 600, "BMP");
        const QByteArray fits = imageBytes(500, 500, "BMP");
        QVERIFY(tooLarge.size() > MetadataFetcher::maxIconBytes);
        QVERIFY(fits.size() < MetadataFetcher::maxIconBytes);
        TestSite site;
        site.serve("/large", "<head><link rel=\"icon\" href=\"/large.bmp\"></head>");
        site.serve("/fits", "<head><link rel=\"icon\" href=\"/fits.bmp\"></head>");
        site.serve("/large.bmp", tooLarge, "image/bmp");
        site.serve("/fits.bmp", fits, "image/bmp");
        site.serve("/favicon.ico", tooLarge, "image/bmp");
        QVERIFY(site.start());

        QVERIFY(!previewNow(site.url(QStringLiteral("/large"))).preview.iconData.has_value());
        QCOMPARE(previewNow(site.url(QStringLiteral("/fits"))).preview.iconData, fits);
        // The probe applies the same bound.
        QVERIFY(!fetchNow(site.url(QStringLiteral("/large"))).iconData.has_value());
        QCOMPARE(site.count(QStringLiteral("/favicon.ico")), 1);
    }
};

BRAMBLE_TEST_GUI_MAIN(MetadataTest)
#include "tst_metadata.moc"
