// Pages built to exhaust a parser, and replies that inflate far past their size.
#include "HostilePages.h"
#include "TestSite.h"
#include "metadata/ContentDecoder.h"
#include "metadata/FetchPermits.h"
#include "metadata/HeadMarkup.h"
#include "metadata/HttpGet.h"
#include "metadata/MetadataCache.h"
#include "metadata/MetadataFetcher.h"
#include "metadata/PageHead.h"
#include "metadata/PageWork.h"
#include "support/TestEnvironment.h"

#include <QCoroTask>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QTest>
#include <zlib.h>

using namespace std::chrono_literals;

namespace {
LinkMetadata fetchNow(const QString &url)
{
    return QCoro::waitFor(MetadataFetcher::fetchMetadata(url));
}

// windowBits as zlib takes them: 31 gzip, 15 zlib-framed deflate, -15 bare deflate.
QByteArray compressed(const QByteArray &data, int windowBits)
{
    z_stream stream {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

PageHead parsed(const QByteArray &html)
{
    return PageHead::parse(html, "text/html", QUrl(QStringLiteral("http://example.test/")));
}

QStringList iconPaths(const PageHead &head)
{
    QStringList paths;
    for (const PageHead::Icon &icon : head.icons)
        paths.append(icon.url.path());
    return paths;
}
} // namespace

class HostilePagesTest : public QObject
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
        MetadataFetcher::setOptions(MetadataFetcher::Options {});
        PageWork::resetCounters();
    }

    void cleanup() { QTRY_COMPARE(FetchPermits::shared().available(), FetchPermits::defaultCount); }

    void hostilePageIsReadWithinBounds_data()
    {
        QTest::addColumn<QByteArray>("page");
        for (const HostilePages::Page &page : HostilePages::all(MetadataFetcher::maxPageBytes))
            QTest::newRow(page.name) << page.body;
    }

    // The whole fetch, as on add or import: the parser is handed the head elements only, on a
    // worker, and the description scrape reads the whole page there too.
    void hostilePageIsReadWithinBounds()
    {
        QFETCH(QByteArray, page);
        QCOMPARE(page.size(), MetadataFetcher::maxPageBytes);
        TestSite site;
        site.serve("/page", page);
        QVERIFY(site.start());

        StdoutCapture output;
        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/page")));
        QCOMPARE(output.lines(), QStringList {});
        QVERIFY(result.title.has_value());
        QVERIFY(result.title->startsWith(QLatin1String("Hostile")));
        QCOMPARE(result.summary, QStringLiteral("127.0.0.1"));

        const PageWork::Counters counters = PageWork::counters();
        QCOMPARE(counters.headParses, 1);
        QCOMPARE(counters.descriptionScans, 1);
        QCOMPARE(counters.onMainThread, 0);
        QVERIFY2(counters.largestParserInput <= HeadMarkup::maxMarkupBytes,
            qPrintable(QString::number(counters.largestParserInput)));
        QVERIFY2(counters.largestParserMemory < 64 * 1024 * 1024,
            qPrintable(QString::number(counters.largestParserMemory)));
        QVERIFY2(counters.deepestTree <= 3,
            qPrintable(QString::number(counters.deepestTree))); // html, head, title
        QCOMPARE(counters.largestScan, page.size());
    }

    void headMarkupKeepsWhatTheHeadSays_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("icons");
        const QByteArray icon = "<link rel=\"icon\" href=\"/icon.png\">";
        QTest::newRow("plain") << "<!DOCTYPE html><html><head><title>Plain</title>" + icon + "</head><body>"
                               << QStringLiteral("Plain") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("markup in a script")
            << "<head><script>if (a<b) document.write('<body><title>No</title>')"
               "</script><title>After script</title>"
                + icon
            << QStringLiteral("After script") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("markup in a comment")
            << "<head><!-- <body> --><title>After comment</title><!--->" + icon
            << QStringLiteral("After comment") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("pixel in noscript") << "<head><title>Pixel</title><noscript><img src=\"/t.gif\"><body>"
                                              "</noscript><style>body{}</style>"
                + icon + "</head><body>" << QStringLiteral("Pixel")
                                           << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("svg titles are not the page's")
            << "<svg><title>Drawing</title><svg/><title>Inner</title></svg><title>Page</title>" + icon
            << QStringLiteral("Page") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("stray element before the icon")
            << "<head><title>Stray</title><div class=\"banner\"></div>" + icon + "</head><body>"
            << QStringLiteral("Stray") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("'<' and '>' in the title and attributes")
            << QByteArray("<title>a < b &amp; c > d</title><link href=\"/x>y.png\" rel=icon><link rel='icon' "
                          "href='/q\"uote.png'>")
            << QStringLiteral("a < b & c > d")
            << QStringList { QStringLiteral("/x>y.png"), QStringLiteral("/q\"uote.png") };
        QTest::newRow("nothing after <body> counts")
            << "<head><title>Head</title></head><body><title>Body</title>" + icon << QStringLiteral("Head")
            << QStringList {};
        QTest::newRow("without <body>, the first 256 KB count")
            << "<title>Long</title>" + QByteArray(300 * 1024, 'x') + icon << QStringLiteral("Long")
            << QStringList {};
        QTest::newRow("within 256 KB without <body>") << "<title>Short</title>" + QByteArray(200 * 1024, 'x')
                + icon << QStringLiteral("Short") << QStringList { QStringLiteral("/icon.png") };
        const QString utf16
            = QStringLiteral("<title>Sixteen \u00e9</title><script>x<y</script>") + QString::fromLatin1(icon);
        QTest::newRow("UTF-16 with its byte-order mark")
            << "\xff\xfe" + QByteArray(reinterpret_cast<const char *>(utf16.utf16()), utf16.size() * 2)
            << QStringLiteral("Sixteen \u00e9") << QStringList { QStringLiteral("/icon.png") };
        QTest::newRow("template content is inert")
            << QByteArray("<template><template></template><title>Inert</title></template><title>Live</title>")
            << QStringLiteral("Live") << QStringList {};
        QTest::newRow("tag with too many attributes")
            << "<title>Many</title><link rel=icon href=/many.png" + QByteArray(" a").repeated(40) + ">" + icon
            << QStringLiteral("Many") << QStringList { QStringLiteral("/icon.png") };
    }

    void headMarkupKeepsWhatTheHeadSays()
    {
        QFETCH(QByteArray, html);
        QFETCH(QString, title);
        QFETCH(QStringList, icons);
        const PageHead head = parsed(html);
        QCOMPARE(head.title, title);
        QCOMPARE(iconPaths(head), icons);
    }

    void headMarkupIsCapped()
    {
        // Nothing but head elements, far more of them than any page has.
        const QByteArray page
            = HostilePages::repeated("<title>Capped</title>", "<meta name=\"m\" content=\"v\">",
                MetadataFetcher::maxPageBytes, "<link rel=\"icon\" href=\"/late.png\">");
        const HeadMarkup markup = HeadMarkup::extract(page);
        QVERIFY(markup.capped);
        QVERIFY(markup.markup.size() <= HeadMarkup::maxMarkupBytes);
        const PageHead head = parsed(page);
        QCOMPARE(head.title, QStringLiteral("Capped"));
        QVERIFY(head.icons.isEmpty());
        QVERIFY(head.cost.parserBytes <= HeadMarkup::maxMarkupBytes);
    }

    void contentDecoderStopsAtItsRoom_data()
    {
        QTest::addColumn<int>("windowBits");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("gzip") << 31 << QByteArray("gzip");
        QTest::newRow("zlib deflate") << 15 << QByteArray("deflate");
        QTest::newRow("bare deflate") << -15 << QByteArray("deflate");
    }

    void contentDecoderStopsAtItsRoom()
    {
        QFETCH(int, windowBits);
        QFETCH(QByteArray, encoding);
        const QByteArray plain = "<title>Decoded</title>" + QByteArray(100000, 'z');
        const QByteArray coded = compressed(plain, windowBits);

        // Byte by byte, so that the framing is read across pieces.
        auto decoder = ContentDecoder::forEncoding(encoding);
        QVERIFY(decoder);
        QByteArray out;
        ContentDecoder::Status status = ContentDecoder::Status::More;
        for (qsizetype i = 0; i < coded.size() && status == ContentDecoder::Status::More; ++i)
            status = decoder->feed(coded.mid(i, 1), out, plain.size() - out.size());
        QCOMPARE(status, ContentDecoder::Status::Ended);
        QCOMPARE(out, plain);

        decoder = ContentDecoder::forEncoding(encoding);
        out.clear();
        QCOMPARE(decoder->feed(coded, out, 1000), ContentDecoder::Status::Full);
        QCOMPARE(out, plain.left(1000));

        // Damage after the start: what came before it is kept. (A bare stream has no check
        // sum, so its damage may pass for an end.)
        QByteArray damaged = compressed(plain + QByteArray(100000, 'q'), windowBits);
        damaged.replace(damaged.size() / 2, 64, QByteArray(64, '\xff'));
        decoder = ContentDecoder::forEncoding(encoding);
        out.clear();
        status = decoder->feed(damaged, out, 1 << 20);
        QVERIFY(status == ContentDecoder::Status::Broken
            || (windowBits < 0 && status == ContentDecoder::Status::Ended));
        QVERIFY(out.startsWith("<title>Decoded</title>"));
        QVERIFY(out.size() < plain.size() + 100000);

        QVERIFY(!ContentDecoder::forEncoding("identity"));
        QVERIFY(!ContentDecoder::forEncoding("br"));
        QVERIFY(!ContentDecoder::forEncoding(""));
    }

    void compressedBombEndsAtTheCap_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("gzip") << QByteArray("gzip");
        QTest::newRow("deflate") << QByteArray("deflate");
    }

    // 64 MB that arrive as 64 KB: the fetch reads to the cap, keeps the title and stops, with no
    // time-out and nothing on standard output.
    void compressedBombEndsAtTheCap()
    {
        QFETCH(QByteArray, encoding);
        QByteArray page
            = "<html><head><title>Bomb</title><meta name=\"description\" content=\"Small at first\">";
        page.append(QByteArray(64 * 1024 * 1024, ' '));
        const QByteArray body = compressed(page, encoding == "gzip" ? 31 : 15);
        QVERIFY(body.size() < 256 * 1024);
        TestSite site;
        site.serveEncoded("/bomb", body, encoding.toStdString());
        QVERIFY(site.start());
        // Time-outs long enough that waiting for one would stand out.
        MetadataFetcher::Options options;
        options.raceTimeout = options.providerTimeout = options.pageTimeout = 60s;
        MetadataFetcher::setOptions(options);

        const HttpGetResult raw = QCoro::waitFor(
            httpGet(MetadataNetwork::manager(), QUrl(site.url(QStringLiteral("/bomb"))), HttpGetOptions {}));
        QVERIFY2(raw.received, qPrintable(raw.error));
        QVERIFY(raw.truncated);
        QCOMPARE(raw.body.size(), MetadataFetcher::maxPageBytes);
        QVERIFY(raw.body.startsWith("<html><head><title>Bomb</title>"));

        StdoutCapture output;
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        const LinkMetadata result = fetchNow(site.url(QStringLiteral("/bomb")));
        QCOMPARE(output.lines(), QStringList {});
        QCOMPARE(result.title, QStringLiteral("Bomb"));
        QCOMPARE(result.summary, QStringLiteral("Small at first"));
    }
};

BRAMBLE_TEST_GUI_MAIN(HostilePagesTest)
#include "tst_hostile_pages.moc"
