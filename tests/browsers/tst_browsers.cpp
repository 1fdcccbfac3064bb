#include "BrowserFixtures.h"
#include "exchange/BookmarkFileReader.h"
#include "exchange/BookmarkTreeBuilder.h"
#include "exchange/BrowserProfiles.h"
#include "exchange/FirefoxPlacesReader.h"
#include "exchange/HtmlNestingEstimate.h"
#include "exchange/LinkAddress.h"
#include "exchange/NetscapeBookmarkReader.h"
#include "exchange/NetscapeBookmarkWriter.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

using namespace BrowserFixtures;

class BrowsersTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString freshPath(const QString &name);

private Q_SLOTS:
    void firefoxHtmlBecomesFlatGroups();
    void toleratesWhatServicesWrite();
    void chromiumRootsDatesAndDescriptions();
    void firefoxBackupRootsAndTypes();
    void placesIsReadWhileFirefoxHoldsIt();
    void placesRefusesOtherDatabases();
    void addressNormalisation_data();
    void addressNormalisation();
    void duplicatesAreSkippedAndCounted();
    void htmlExportReadsBackTheSame();
    void brambleExportIsReadAsBefore();
    void brokenFilesFailWithAPreciseMessage_data();
    void brokenFilesFailWithAPreciseMessage();
    void worstShapesStayBounded();
    void damagedFilesNeverCrashOrFailSilently();
    void fuzzFindingsAreReadSafely();
    void profilesAreFoundInTheirUsualPlaces();
    void readsOnAWorkerThread();
};

QString BrowsersTest::freshPath(const QString &name)
{
    const QString folder = m_dir.filePath(QString::number(++m_counter));
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

void BrowsersTest::firefoxHtmlBecomesFlatGroups()
{
    const BookmarkReadResult result
        = BookmarkFileReader::read(fixture(QStringLiteral("firefox-export.html")));
    QVERIFY2(result.bookmarks, qPrintable(result.error));
    QCOMPARE(result.format, BookmarkFormat::NetscapeHtml);
    const ImportedBookmarks &read = *result.bookmarks;
    QCOMPARE(read.source, QStringLiteral("html"));
    // Browser order; the menu's loose links get the menu's name, marked roots the shared
    // names, a five-level path is joined, folders without web links make no group.
    QCOMPARE(groupNames(read.data),
        QStringList({ QStringLiteral("书签菜单"), QStringLiteral("Mozilla Firefox"),
            QStringLiteral("书签工具栏 / 工作 / Rust"),
            QStringLiteral("书签工具栏 / 工作 / Rust / Async / Tokio"), QStringLiteral("其他书签") }));
    // place:, javascript: and file:.
    QCOMPARE(read.skippedNonWeb, 3);
    QCOMPARE(read.data.linkCount(), 7);

    const ExportGroup *mozilla = groupNamed(read.data, QStringLiteral("Mozilla Firefox"));
    QCOMPARE(mozilla->bookmarks.size(), 2);
    const ExportItem &help = mozilla->bookmarks[0];
    QCOMPARE(help.title, QStringLiteral("Help and Tutorials"));
    QCOMPARE(help.summary, QStringLiteral("Answers from the community"));
    QCOMPARE(help.createdAt, QDateTime::fromSecsSinceEpoch(1700000010, Qt::UTC));
    QVERIFY(help.iconData);
    QImage icon;
    QVERIFY(icon.loadFromData(*help.iconData));
    QCOMPARE(icon.size(), QSize(4, 4));
    // Bytes that do not decode as an image are no icon.
    QCOMPARE(mozilla->bookmarks[1].iconData, std::nullopt);
    QCOMPARE(mozilla->bookmarks[1].summary, std::nullopt);

    // Links in a folder that also holds a folder keep their order around it.
    const ExportGroup *rust = groupNamed(read.data, QStringLiteral("书签工具栏 / 工作 / Rust"));
    QCOMPARE(addresses(*rust),
        QStringList(
            { QStringLiteral("https://doc.rust-lang.org/book/"), QStringLiteral("https://crates.io/") }));

    const ExportItem &other = groupNamed(read.data, QStringLiteral("其他书签"))->bookmarks.first();
    // Entities decoded as a browser decodes them: "&amp;" is "&", "&note=" stays.
    QCOMPARE(other.urlString, QStringLiteral("https://example.org/search?q=a&b&note=keep"));
    QCOMPARE(other.title, QStringLiteral("Tom & Jerry <3 \"quoted\""));
}

void BrowsersTest::toleratesWhatServicesWrite()
{
    // A byte-order mark, lower case, no DOCTYPE, no outer <DL>, unclosed <DT> and <p>, and a
    // <DD> between a folder's <H3> and its <DL>.
    const ImportedBookmarks read = readOrFail(fixture(QStringLiteral("service-export.html")));
    QCOMPARE(groupNames(read.data), QStringList({ QStringLiteral("未分类"), QStringLiteral("Reading") }));
    const ExportGroup &loose = read.data.groups[0];
    QCOMPARE(addresses(loose),
        QStringList({ QStringLiteral("https://news.example/?id=1&x=2"),
            QStringLiteral("https://no-title.example/path/") }));
    QCOMPARE(loose.bookmarks[0].title, QStringLiteral("News & Views — daily"));
    // A description over two lines becomes one.
    QCOMPARE(loose.bookmarks[0].summary, QStringLiteral("Front page of the day"));
    QCOMPARE(loose.bookmarks[0].createdAt, QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC));
    // No title: the import shows the address; no summary: the placeholder.
    QCOMPARE(loose.bookmarks[1].title, std::nullopt);
    QCOMPARE(loose.bookmarks[1].summary, std::nullopt);

    const ExportGroup &reading = read.data.groups[1];
    QCOMPARE(addresses(reading),
        QStringList({ QStringLiteral("https://blog.example/post?a=1&note=3&copy=4"),
            QStringLiteral("HTTPS://Blog.Example:443/post?a=1&note=3&copy=4#comments") }));
    QCOMPARE(reading.bookmarks[0].title, QStringLiteral("Blog\u00A0post"));
    // The folder's description is not taken for its first link's.
    QCOMPARE(reading.bookmarks[0].summary, std::nullopt);
    QCOMPARE(read.skippedNonWeb, 1);

    // A link inside a description belongs to the description.
    const ImportedBookmarks described = readOrFail("<DL><DT><A HREF=\"https://a.example/\">A</A><DD>See <a "
                                                   "href=\"https://inner.example/\">this</a> too</DL>");
    QCOMPARE(described.data.linkCount(), 1);
    QCOMPARE(described.data.groups[0].bookmarks[0].summary, QStringLiteral("See this too"));

    // Older exports in other encodings.
    const QString cafe = QStringLiteral("<DL><DT><A HREF=\"https://cafe.example/\">Café</A></DL>");
    QByteArray utf16 = "\xFF\xFE";
    utf16 += QByteArray(reinterpret_cast<const char *>(cafe.utf16()), cafe.size() * 2);
    QCOMPARE(readOrFail(utf16).data.groups.value(0).bookmarks.value(0).title, QStringLiteral("Café"));
    const QByteArray latin1
        = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\">" + cafe.toLatin1();
    QCOMPARE(readOrFail(latin1).data.groups.value(0).bookmarks.value(0).title, QStringLiteral("Café"));

    // Unclosed <DT>s with an <H3> folder that has no list at all: an empty folder.
    const ImportedBookmarks empty
        = readOrFail("<DL><DT><H3>Nothing</H3><DT><A HREF=\"https://after.example/\">After</A></DL>");
    QCOMPARE(groupNames(empty.data), QStringList({ QStringLiteral("未分类") }));
}

void BrowsersTest::chromiumRootsDatesAndDescriptions()
{
    const BookmarkReadResult result
        = BookmarkFileReader::read(fixture(QStringLiteral("chromium-Bookmarks.json")));
    QVERIFY2(result.bookmarks, qPrintable(result.error));
    QCOMPARE(result.format, BookmarkFormat::ChromiumJson);
    const ImportedBookmarks &read = *result.bookmarks;
    QCOMPARE(read.source, QStringLiteral("chromium"));
    QCOMPARE(groupNames(read.data),
        QStringList({ QStringLiteral("书签工具栏"), QStringLiteral("书签工具栏 / 开发 / Level 2"),
            QStringLiteral("其他书签"), QStringLiteral("移动设备书签") }));
    QCOMPARE(read.skippedNonWeb, 1);
    const ExportItem &project = read.data.groups[0].bookmarks.first();
    QCOMPARE(project.title, QStringLiteral("Chromium Project"));
    // 13345678901234567 µs after 1601-01-01.
    QCOMPARE(project.createdAt, QDateTime::fromSecsSinceEpoch(13345678901LL - 11644473600LL, Qt::UTC));
    const ExportItem &deep = read.data.groups[1].bookmarks.first();
    QCOMPARE(deep.title, std::nullopt);
    QCOMPARE(deep.summary, QStringLiteral("A description Vivaldi keeps"));
    QCOMPARE(read.data.groups[3].bookmarks.first().urlString, QStringLiteral("https://m.example/"));
}

void BrowsersTest::firefoxBackupRootsAndTypes()
{
    const BookmarkReadResult result
        = BookmarkFileReader::read(fixture(QStringLiteral("firefox-backup.json")));
    QVERIFY2(result.bookmarks, qPrintable(result.error));
    QCOMPARE(result.format, BookmarkFormat::FirefoxBackup);
    const ImportedBookmarks &read = *result.bookmarks;
    QCOMPARE(read.source, QStringLiteral("firefox"));
    // The tags root repeats links that stand elsewhere and is left out; separators are no links.
    QCOMPARE(groupNames(read.data),
        QStringList({ QStringLiteral("书签菜单"), QStringLiteral("书签菜单 / Old style"),
            QStringLiteral("书签工具栏"), QStringLiteral("移动设备书签") }));
    QCOMPARE(read.skippedNonWeb, 1);
    QCOMPARE(read.data.linkCount(), 4);
    const ExportItem &menu = read.data.groups[0].bookmarks.first();
    QCOMPARE(menu.summary, QStringLiteral("Described in an anno"));
    QCOMPARE(menu.createdAt, QDateTime::fromSecsSinceEpoch(1700000100, Qt::UTC));
    QCOMPARE(read.data.groups[1].bookmarks.first().urlString, QStringLiteral("https://old.example/"));
}

void BrowsersTest::placesIsReadWhileFirefoxHoldsIt()
{
    const QString path = freshPath(QStringLiteral("places.sqlite"));
    {
        QSqlDatabase firefox = createPlaces(path, QStringLiteral("firefox"));
        QVERIFY(firefox.isOpen());
        // What a running Firefox does: WAL, exclusive locking, changes not yet checkpointed.
        QVERIFY(exec(firefox, QStringLiteral("PRAGMA journal_mode=WAL")));
        QVERIFY(exec(firefox, QStringLiteral("PRAGMA wal_autocheckpoint=0")));
        QVERIFY(exec(firefox, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
        QVERIFY(exec(firefox, QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(exec(firefox,
            QStringLiteral(
                "INSERT INTO moz_places (id, url, title) VALUES (6, 'https://fresh.example/', 'Fresh')")));
        QVERIFY(exec(firefox,
            QStringLiteral(
                "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, dateAdded, guid) "
                "VALUES (19, 1, 6, 3, 1, 'Added just now', 1600000900000000, 'bookmark0006')")));
        QVERIFY(QFileInfo(path + QStringLiteral("-wal")).size() > 0);

        const QDir folder = QFileInfo(path).dir();
        const QStringList filesBefore = folder.entryList(QDir::Files);
        const QByteArray mainBefore = sha(path);
        const QByteArray walBefore = sha(path + QStringLiteral("-wal"));

        QString error;
        const auto read = FirefoxPlacesReader::readFile(path, &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(read->source, QStringLiteral("firefox"));
        QCOMPARE(groupNames(read->data),
            QStringList({ QStringLiteral("书签菜单"), QStringLiteral("书签菜单 / Work"),
                QStringLiteral("书签工具栏"), QStringLiteral("移动设备书签") }));
        const ExportGroup &menu = read->data.groups[0];
        QCOMPARE(menu.bookmarks.first().title, QStringLiteral("Menu link"));
        QCOMPARE(menu.bookmarks.first().summary, QStringLiteral("The page's own description"));
        QCOMPARE(menu.bookmarks.first().createdAt, QDateTime::fromSecsSinceEpoch(1600000200, Qt::UTC));
        // The change still only in the WAL is part of what the import sees.
        QCOMPARE(addresses(read->data.groups[2]),
            QStringList(
                { QStringLiteral("https://toolbar.example/"), QStringLiteral("https://fresh.example/") }));
        QCOMPARE(read->skippedNonWeb, 1);

        // Firefox's files are as they were, and nothing was added beside them.
        QCOMPARE(sha(path), mainBefore);
        QCOMPARE(sha(path + QStringLiteral("-wal")), walBefore);
        QCOMPARE(folder.entryList(QDir::Files), filesBefore);
        // Firefox still holds its database.
        QVERIFY(exec(firefox, QStringLiteral("UPDATE moz_bookmarks SET title = 'Renamed' WHERE id = 19")));
        firefox.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("firefox"));

    // Once Firefox checkpointed and quit, the same bookmarks are read from the file alone.
    QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
    QString error;
    const auto after = FirefoxPlacesReader::readFile(path, &error);
    QVERIFY2(after, qPrintable(error));
    QCOMPARE(after->data.groups[2].bookmarks.last().title, QStringLiteral("Renamed"));
}

void BrowsersTest::placesRefusesOtherDatabases()
{
    const QString path = freshPath(QStringLiteral("other.sqlite"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QVERIFY(exec(db, QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, text TEXT)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    const BookmarkReadResult result = BookmarkFileReader::readFile(path);
    QVERIFY(!result.bookmarks);
    QCOMPARE(result.format, BookmarkFormat::FirefoxPlaces);
    QVERIFY2(result.error.contains(QStringLiteral("not a Firefox places.sqlite")), qPrintable(result.error));
}

void BrowsersTest::addressNormalisation_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("scheme and host case") << "HTTPS://Example.COM/Path"
                                          << "https://example.com/Path" << true;
    QTest::newRow("path case matters") << "https://example.com/Path"
                                       << "https://example.com/path" << false;
    QTest::newRow("trailing slash") << "https://example.com/a/"
                                    << "https://example.com/a" << true;
    QTest::newRow("root slash") << "https://example.com/"
                                << "https://example.com" << true;
    QTest::newRow("default https port") << "https://example.com:443/x"
                                        << "https://example.com/x" << true;
    QTest::newRow("default http port") << "http://example.com:80/x"
                                       << "http://example.com/x" << true;
    QTest::newRow("other port") << "https://example.com:8443/x"
                                << "https://example.com/x" << false;
    QTest::newRow("fragment") << "https://example.com/x#part"
                              << "https://example.com/x" << true;
    QTest::newRow("query kept") << "https://example.com/x?a=1"
                                << "https://example.com/x?a=2" << false;
    QTest::newRow("scheme kept") << "http://example.com/x"
                                 << "https://example.com/x" << false;
    QTest::newRow("spaces around") << "  https://example.com/x  "
                                   << "https://example.com/x" << true;
}

void BrowsersTest::addressNormalisation()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(LinkAddress::normalized(a) == LinkAddress::normalized(b), same);
}

void BrowsersTest::duplicatesAreSkippedAndCounted()
{
    ImportedBookmarks read = readOrFail(fixture(QStringLiteral("service-export.html")));
    // One link already in the library (written differently), one repeated within the file.
    read.skipDuplicates(
        ImportedBookmarks::keysOf({ QStringLiteral("https://NEWS.example:443/?id=1&x=2#top") }));
    QCOMPARE(read.skippedDuplicates, 2);
    QCOMPARE(groupNames(read.data), QStringList({ QStringLiteral("未分类"), QStringLiteral("Reading") }));
    QCOMPARE(
        addresses(read.data.groups[0]), QStringList({ QStringLiteral("https://no-title.example/path/") }));
    QCOMPARE(addresses(read.data.groups[1]),
        QStringList({ QStringLiteral("https://blog.example/post?a=1&note=3&copy=4") }));

    // A group left with nothing goes; a group that was empty in the file stays.
    ImportedBookmarks own;
    own.data.groups = { { QStringLiteral("Empty on purpose"), QDateTime::currentDateTimeUtc(), {} },
        { QStringLiteral("All known"), QDateTime::currentDateTimeUtc(),
            { { QStringLiteral("https://known.example/"), {}, {}, QDateTime::currentDateTimeUtc() } } } };
    own.skipDuplicates(ImportedBookmarks::keysOf({ QStringLiteral("https://known.example") }));
    QCOMPARE(groupNames(own.data), QStringList({ QStringLiteral("Empty on purpose") }));
    QCOMPARE(own.skippedDuplicates, 1);
}

void BrowsersTest::htmlExportReadsBackTheSame()
{
    const QDateTime created = QDateTime::fromSecsSinceEpoch(1650000000, Qt::UTC);
    ExportData library;
    library.groups = {
        { QStringLiteral("工作 <&> \"quotes\""), created,
            {
                { QStringLiteral("https://example.com/search?q=a&note=b&amp=c"),
                    QStringLiteral("Tom & Jerry <b>"), QStringLiteral("A summary with \"quotes\" & <tags>"),
                    created, imageBytes(8, 8) },
                { QStringLiteral("https://example.com/没有标题"),
                    QStringLiteral("https://example.com/没有标题"), QStringLiteral("正在获取信息..."),
                    created.addSecs(60) },
                { QStringLiteral("https://jpeg.example/"), QStringLiteral("JPEG icon"), std::nullopt, created,
                    imageBytes(8, 8, "JPEG") },
            } },
        { QStringLiteral("书签工具栏"), created.addDays(1),
            { { QStringLiteral("http://second.example/"), QStringLiteral("Second"), QStringLiteral("Two"),
                created } } },
        { QStringLiteral("A / B"), created,
            { { QStringLiteral("https://slash.example/"), QStringLiteral("Slash"), std::nullopt,
                created } } },
    };
    const QByteArray html = NetscapeBookmarkWriter::write(library);
    QVERIFY(html.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
    QVERIFY(html.contains("HREF=\"https://example.com/search?q=a&amp;note=b&amp;amp=c\""));
    QVERIFY(html.contains("ADD_DATE=\"1650000000\""));
    QVERIFY(html.contains("ICON=\"data:image/png;base64,"));
    QVERIFY(html.contains("ICON=\"data:image/jpeg;base64,"));
    // The placeholder is Bramble's own marker, not a summary for a browser.
    QVERIFY(!html.contains("正在获取信息"));

    const QString path = freshPath(QStringLiteral("bookmarks.html"));
    QString error;
    QVERIFY2(NetscapeBookmarkWriter::writeFile(library, path, &error), qPrintable(error));
    const BookmarkReadResult back = BookmarkFileReader::readFile(path);
    QVERIFY2(back.bookmarks, qPrintable(back.error));
    const ExportData &read = back.bookmarks->data;
    QCOMPARE(groupNames(read), groupNames(library));
    for (qsizetype g = 0; g < library.groups.size(); ++g) {
        const auto &expected = library.groups[g].bookmarks;
        const auto &actual = read.groups[g].bookmarks;
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(actual[i].urlString, expected[i].urlString);
            QCOMPARE(actual[i].title, expected[i].title);
            const bool placeholder = expected[i].summary == QStringLiteral("正在获取信息...");
            QCOMPARE(actual[i].summary, placeholder ? std::nullopt : expected[i].summary);
            QCOMPARE(actual[i].createdAt, expected[i].createdAt);
            QCOMPARE(actual[i].iconData, expected[i].iconData);
        }
    }
}

void BrowsersTest::brambleExportIsReadAsBefore()
{
    ExportData data;
    data.groups = { { QStringLiteral("G"), ExportData::currentTime(),
        { { QStringLiteral("https://a.example/"), QStringLiteral("A"), std::nullopt,
              ExportData::currentTime() },
            { QStringLiteral("https://a.example/"), std::nullopt, QStringLiteral("dup"),
                ExportData::currentTime() } } } };
    const QByteArray json = data.toJson();
    // An icon carried in memory never reaches the JSON file.
    ExportData withIcon = data;
    withIcon.groups[0].bookmarks[0].iconData = imageBytes();
    QCOMPARE(withIcon.toJson(), json);

    const BookmarkReadResult result = BookmarkFileReader::read(json);
    QVERIFY2(result.bookmarks, qPrintable(result.error));
    QCOMPARE(result.format, BookmarkFormat::Bramble);
    QCOMPARE(result.bookmarks->source, QStringLiteral("bramble"));
    // Read by its own rules: duplicates kept unless asked, nothing counted.
    QCOMPARE(result.bookmarks->data, data);
    QCOMPARE(result.bookmarks->skippedNonWeb, 0);

    // Its own strict errors still come through.
    const BookmarkReadResult fractional
        = BookmarkFileReader::read(R"({"groups":[],"exportedAt":"2025-03-01T09:30:00.5Z"})");
    QCOMPARE(fractional.failure, BookmarkReadFailure::Invalid);
    QVERIFY2(fractional.error.contains(QStringLiteral("fractional seconds")), qPrintable(fractional.error));
}

void BrowsersTest::brokenFilesFailWithAPreciseMessage_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("message");
    const QByteArray firefox = fixture(QStringLiteral("firefox-export.html"));
    const QByteArray chromium = fixture(QStringLiteral("chromium-Bookmarks.json"));
    const int invalid = int(BookmarkReadFailure::Invalid),
              unsupported = int(BookmarkReadFailure::Unsupported);
    QTest::newRow("truncated html") << firefox.left(firefox.size() * 2 / 3) << invalid << "cut off";
    QTest::newRow("truncated in a tag") << firefox.left(firefox.indexOf("tokio.rs")) << invalid << "cut off";
    QTest::newRow("truncated chromium") << chromium.left(chromium.size() / 2) << invalid << "not valid JSON";
    QTest::newRow("chromium children not a list")
        << QByteArray(R"({"roots":{"bookmark_bar":{"type":"folder","children":{"a":1}}}})") << invalid
        << "must be an array";
    QTest::newRow("json too deep") << QByteArray(R"({"roots":)") + QByteArray("[").repeated(1000000)
                                   << invalid << "nests more than 512";
    QTest::newRow("unknown json") << QByteArray(R"({"bookmarks":[]})") << unsupported
                                  << "not a bookmark file";
    QTest::newRow("binary junk") << QByteArray("\x00\x01\x02\xff\xfe garbage \x89PNG", 18) << unsupported
                                 << "not a bookmark file";
    QTest::newRow("empty") << QByteArray() << unsupported << "empty";
    QTest::newRow("compressed backup") << QByteArray("mozLz40\0\x10\0\0\0", 12) << unsupported << ".jsonlz4";
    QTest::newRow("foreign charset") << QByteArray(
        "<!DOCTYPE NETSCAPE-Bookmark-file-1><META CONTENT=\"text/html; charset=Shift_JIS\"><DL></DL>")
                                     << invalid << "shift_jis";

    QByteArray deepFolders = "<!DOCTYPE NETSCAPE-Bookmark-file-1><DL><p>";
    for (int i = 0; i < 70; ++i)
        deepFolders += "<DT><H3>F</H3><DL><p>";
    deepFolders += "<DT><A HREF=\"https://deep.example/\">Deep</A>";
    for (int i = 0; i < 70; ++i)
        deepFolders += "</DL><p>";
    deepFolders += "</DL>";
    QTest::newRow("folders too deep") << deepFolders << invalid << "nested more than 64";
    QTest::newRow("markup too deep") << "<DT><A HREF=\"https://x.example/\">x</A>"
            + QByteArray("<div>").repeated(100000)
                                     << invalid << "nested more than 256";
    QTest::newRow("many tags under many open elements")
        << QByteArray("<DT><A HREF=\"https://x.example/\">x</A>") + QByteArray("<span>").repeated(200)
            + QByteArray("</x>").repeated(1000000)
        << invalid << "too tangled";
    QByteArray formatting = "<DT><A HREF=\"https://x.example/\">x</A>";
    for (int i = 0; i < 200; ++i)
        formatting += "<b id=" + QByteArray::number(i) + '>';
    QTest::newRow("much text under open formatting")
        << formatting + QByteArray(10 * 1024 * 1024, 'x') << invalid << "too tangled";
}

void BrowsersTest::brokenFilesFailWithAPreciseMessage()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, failure);
    QFETCH(QString, message);
    const BookmarkReadResult result = BookmarkFileReader::read(contents);
    QVERIFY(!result.bookmarks);
    QCOMPARE(int(result.failure), failure);
    QVERIFY2(result.error.contains(message, Qt::CaseInsensitive), qPrintable(result.error));
}

void BrowsersTest::worstShapesStayBounded()
{
    // Shapes that make an HTML5 tree builder walk deep stacks are refused before parsing...
    const QList<QByteArray> deep = { QByteArray("<b>").repeated(20000),
        QByteArray("<span><div></span>").repeated(20000), QByteArray("<div><table></div>").repeated(20000),
        QByteArray("<b id=1></i>").repeated(20000), QByteArray("<svg><g>").repeated(20000) };
    for (const QByteArray &markup : deep)
        QVERIFY2(HtmlNestingEstimate::depth(markup, 512) > 512, markup.left(24).constData());
    // ...while markup a parser closes by itself is not.
    const QList<QByteArray> flat = { QByteArray("<DT><A HREF=x>t</A><DD>d<p>").repeated(20000),
        QByteArray("<li><div></div><p>x").repeated(20000), QByteArray("<a href=x>unclosed").repeated(20000),
        QByteArray("<svg><g/></svg>").repeated(20000), QByteArray("<title><div></title>").repeated(20000) };
    for (const QByteArray &markup : flat)
        QVERIFY2(HtmlNestingEstimate::depth(markup, 512) < 8, markup.left(24).constData());
    const auto real = HtmlNestingEstimate::measure(fixture(QStringLiteral("firefox-export.html")), 512);
    QVERIFY(real.depth < 16);
    QVERIFY(real.work < 2000);

    // A huge address is no web link; a huge icon is dropped; the rest of the file reads.
    const QByteArray huge = "<DL><DT><A HREF=\"https://huge.example/" + QByteArray(10 * 1024 * 1024, 'a')
        + "\">Huge</A><DT><A HREF=\"https://fine.example/\" ICON=\"data:image/png;base64,"
        + QByteArray(3 * 1024 * 1024, 'A') + "\">Fine</A></DL>";
    const ImportedBookmarks read = readOrFail(huge);
    QCOMPARE(read.skippedNonWeb, 1);
    QCOMPARE(read.data.linkCount(), 1);
    QCOMPARE(read.data.groups[0].bookmarks[0].iconData, std::nullopt);

    // Brackets inside texts are no nesting.
    const QByteArray brackets
        = R"({"roots":{"other":{"type":"folder","children":[{"type":"url","url":"https://b.example/","name":"\")"
        + QByteArray("[{").repeated(1000) + R"("}]}}})";
    const BookmarkReadResult bracketed = BookmarkFileReader::read(brackets);
    QVERIFY2(bracketed.bookmarks, qPrintable(bracketed.error));
    QCOMPARE(bracketed.bookmarks->data.groups[0].bookmarks[0].title->size(), 2001);

    // A title far beyond any real one is cut.
    const ImportedBookmarks longTitle
        = readOrFail("<DL><DT><A HREF=\"https://t.example/\">" + QByteArray(100000, 'x') + "</A></DL>");
    QCOMPARE(longTitle.data.groups[0].bookmarks[0].title->size(), BookmarkTreeBuilder::maxTextLength);
}

void BrowsersTest::damagedFilesNeverCrashOrFailSilently()
{
    QRandomGenerator random(20261209);
    const QStringList names = { QStringLiteral("firefox-export.html"), QStringLiteral("service-export.html"),
        QStringLiteral("chromium-Bookmarks.json"), QStringLiteral("firefox-backup.json") };
    for (const QString &name : names) {
        const QByteArray original = fixture(name);
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged = original;
            const int edits = 1 + int(random.bounded(8));
            for (int e = 0; e < edits && !damaged.isEmpty(); ++e) {
                const qsizetype at = qsizetype(random.bounded(quint32(damaged.size())));
                switch (random.bounded(4)) {
                case 0:
                    damaged[at] = char(random.bounded(256));
                    break;
                case 1:
                    damaged.remove(at, qsizetype(random.bounded(64)));
                    break;
                case 2:
                    damaged.insert(at, damaged.mid(qsizetype(random.bounded(quint32(damaged.size()))), 40));
                    break;
                default:
                    damaged.truncate(at);
                }
            }
            const BookmarkReadResult result = BookmarkFileReader::read(damaged);
            QVERIFY2(result.bookmarks.has_value() != !result.error.isEmpty(),
                qPrintable(name + QStringLiteral(" round %1: %2").arg(round).arg(result.error)));
        }
    }
}

// Inputs the fuzzers (fuzz/) found, each once a crash or undefined behaviour (which the
// sanitizer build of this suite stops at).
void BrowsersTest::fuzzFindingsAreReadSafely()
{
    const QDir findings(QStringLiteral(BROWSER_FIXTURES "/fuzz-findings"));
    const QStringList names = findings.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString &name : names) {
        const BookmarkReadResult result
            = BookmarkFileReader::read(fixture(QStringLiteral("fuzz-findings/") + name));
        QVERIFY2(result.bookmarks.has_value() != !result.error.isEmpty(), qPrintable(name + result.error));
    }

    // A date written as a number far beyond any integer is no date: the link is kept.
    const BookmarkReadResult far
        = BookmarkFileReader::read(fixture(QStringLiteral("fuzz-findings/firefox-backup-float-date.json")));
    QVERIFY2(far.bookmarks, qPrintable(far.error));
    const QList<ExportItem> &links = far.bookmarks->data.groups[0].bookmarks;
    QCOMPARE(links.size(), 2);
    QVERIFY(links[0].createdAt.isValid());
    QCOMPARE(links[1].createdAt, QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC));
}

void BrowsersTest::profilesAreFoundInTheirUsualPlaces()
{
    const QString home = QDir::homePath();
    QVERIFY(home.startsWith(TestEnvironment::root()));
    const auto write = [](const QString &path, const QByteArray &contents) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    };
    // Firefox: two profiles, the second the default of its installation, one with a comma.
    write(home + QStringLiteral("/.mozilla/firefox/profiles.ini"),
        "[Profile1]\nName=work, old\nIsRelative=1\nPath=abcd.work\n\n"
        "[Profile0]\nName=default-release\nIsRelative=1\nPath=wxyz.default-release\nDefault=1\n\n"
        "[Install4F96D1932A9F858E]\nDefault=wxyz.default-release\nLocked=1\n\n[General]\nVersion=2\n");
    for (const QString &folder : { QStringLiteral("abcd.work"), QStringLiteral("wxyz.default-release") }) {
        const QString places
            = home + QStringLiteral("/.mozilla/firefox/") + folder + QStringLiteral("/places.sqlite");
        QDir().mkpath(QFileInfo(places).path());
        const QString name = QStringLiteral("profile-") + folder;
        {
            QSqlDatabase db = createPlaces(places, name);
            QVERIFY(db.isOpen());
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    // Chrome with two profiles named in Local State, one folder without bookmarks.
    const QString chrome = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/google-chrome");
    write(chrome + QStringLiteral("/Default/Bookmarks"), fakeChromiumFile(3));
    write(chrome + QStringLiteral("/Profile 1/Bookmarks"), fakeChromiumFile(5));
    QDir().mkpath(chrome + QStringLiteral("/Crashpad"));
    write(chrome + QStringLiteral("/Local State"),
        R"({"profile":{"last_used":"Profile 1","info_cache":{"Default":{"name":"个人"},"Profile 1":{"name":"Work"}}}})");
    // Chromium from Flatpak, Brave from Snap, each without Local State.
    write(home + QStringLiteral("/.var/app/org.chromium.Chromium/config/chromium/Default/Bookmarks"),
        fakeChromiumFile(2));
    write(home + QStringLiteral("/snap/brave/current/.config/BraveSoftware/Brave-Browser/Default/Bookmarks"),
        fakeChromiumFile(1));

    const QList<BrowserProfile> profiles = BrowserProfiles::find({}, true);
    QStringList shown;
    for (const BrowserProfile &profile : profiles)
        shown.append(QStringLiteral("%1 %2").arg(profile.displayName()).arg(profile.linkCount));
    QCOMPARE(shown,
        QStringList({ QStringLiteral("Firefox · default-release 4"), QStringLiteral("Firefox · work, old 4"),
            QStringLiteral("Chromium · Default (Flatpak) 2"), QStringLiteral("Google Chrome · Work 5"),
            QStringLiteral("Google Chrome · 个人 3"), QStringLiteral("Brave · Default (Snap) 1") }));

    QString error;
    auto chosen = BrowserProfiles::choose(profiles, QStringLiteral("chrome"), {}, &error);
    QVERIFY(chosen);
    QCOMPARE(chosen->profileName, QStringLiteral("Work"));
    chosen = BrowserProfiles::choose(profiles, QStringLiteral("chrome"), QStringLiteral("default"), &error);
    QCOMPARE(chosen->profileName, QStringLiteral("个人"));
    chosen
        = BrowserProfiles::choose(profiles, QStringLiteral("firefox"), QStringLiteral("WORK, OLD"), &error);
    QCOMPARE(chosen->folderName, QStringLiteral("abcd.work"));
    const BookmarkReadResult read = BrowserProfiles::read(*chosen);
    QVERIFY2(read.bookmarks, qPrintable(read.error));
    QCOMPARE(read.bookmarks->data.linkCount(), 4);

    QVERIFY(!BrowserProfiles::choose(profiles, QStringLiteral("edge"), {}, &error));
    QCOMPARE(error, QStringLiteral("No Microsoft Edge profile was found."));
    QVERIFY(!BrowserProfiles::choose(profiles, QStringLiteral("chrome"), QStringLiteral("Nobody"), &error));
    QVERIFY2(error.contains(QStringLiteral("found: Work, 个人")), qPrintable(error));
    QVERIFY(!BrowserProfiles::choose(profiles, QStringLiteral("netscape"), {}, &error));
    QVERIFY2(
        error.contains(QStringLiteral("firefox, chromium, chrome, brave, vivaldi, edge")), qPrintable(error));
    QCOMPARE(BrowserProfiles::find(QStringLiteral("brave")).size(), 1);
}

void BrowsersTest::readsOnAWorkerThread()
{
    const QString places = freshPath(QStringLiteral("places.sqlite"));
    {
        QSqlDatabase db = createPlaces(places, QStringLiteral("worker"));
        QVERIFY(db.isOpen());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("worker"));
    const QString html = freshPath(QStringLiteral("bookmarks.html"));
    QFile file(html);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(fixture(QStringLiteral("firefox-export.html")));
    file.close();

    QFuture<BookmarkReadResult> first
        = QtConcurrent::run([places] { return BookmarkFileReader::readFile(places); });
    QFuture<BookmarkReadResult> second
        = QtConcurrent::run([html] { return BookmarkFileReader::readFile(html); });
    QVERIFY2(first.result().bookmarks, qPrintable(first.result().error));
    QCOMPARE(first.result().bookmarks->data.linkCount(), 4);
    QCOMPARE(second.result().bookmarks->data.linkCount(), 7);
}

BRAMBLE_TEST_CORE_MAIN(BrowsersTest)
#include "tst_browsers.moc"
