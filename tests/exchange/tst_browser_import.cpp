// Importing what browsers write, and exporting for them, through DataExchange: the same path
// the settings window and the command line take.
#include "exchange/DataExchange.h"
#include "exchange/NetscapeBookmarkWriter.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class BrowserImportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath(const QString &suffix)
    {
        return m_dir.filePath(QStringLiteral("file-%1%2").arg(++m_counter).arg(suffix));
    }
    std::unique_ptr<ModelContainer> openStore()
    {
        QString error;
        auto container = ModelContainer::open(freshPath(QStringLiteral(".sqlite")), &error);
        if (!container)
            qWarning() << "open failed:" << error;
        return container;
    }

private Q_SLOTS:
    void browserHtmlKeepsTitlesDatesAndIcons();
    void everyFormatNamesItsSource_data();
    void everyFormatNamesItsSource();
    void skipExistingLeavesOutWhatIsThere();
    void brokenBrowserFilesCreateNothing_data();
    void brokenBrowserFilesCreateNothing();
    void htmlExportReadsBackTheSame();
    void htmlExportRefusesWhatIsNotARegularFile();
};

namespace {

struct SentSignal
{
    QString name;
    QMap<QString, QString> parameters;
};

DataExchange::SignalHook recordSignals(QList<SentSignal> *sent)
{
    return [sent](const QString &name, const QMap<QString, QString> &parameters) {
        sent->append({ name, parameters });
    };
}

DataExchange::FetchFunction recordFetches(QStringList *fetched)
{
    return [fetched](QString urlString) -> QCoro::Task<LinkMetadata> {
        if (fetched)
            fetched->append(urlString);
        co_return LinkMetadata {};
    };
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(BROWSER_FIXTURES "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

BookmarkGroup *groupNamed(ModelContext *context, const QString &name)
{
    for (BookmarkGroup *group : context->groups()) {
        if (group->name() == name)
            return group;
    }
    return nullptr;
}

QStringList groupNames(ModelContext *context)
{
    QStringList names;
    for (BookmarkGroup *group : GroupListModel::ordered(context))
        names << group->name();
    return names;
}

BookmarkItem *linkTo(ModelContext *context, const QString &urlString)
{
    for (BookmarkItem *item : context->items()) {
        if (item->urlString() == urlString)
            return item;
    }
    return nullptr;
}

const QString placeholder = QString::fromUtf8(DataExchange::placeholderSummary);

} // namespace

void BrowserImportTest::browserHtmlKeepsTitlesDatesAndIcons()
{
    const QByteArray icon = imageBytes();
    const QByteArray html
        = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n"
          "<DL><p>\n"
          "<DT><A HREF=\"https://loose.example/\" ADD_DATE=\"1500000000\">Loose</A>\n"
          "<DT><H3 ADD_DATE=\"1400000000\">书签工具栏</H3>\n<DL><p>\n"
          "  <DT><H3>工作</H3>\n  <DL><p>\n"
          "    <DT><A HREF=\"https://described.example/\" ADD_DATE=\"1600000000\" "
          "ICON=\"data:image/png;base64,"
        + icon.toBase64()
        + "\">Described &amp; titled</A>\n"
          "    <DD>My own words\n"
          "    <DT><A HREF=\"https://titled.example/?a=1&note=2\" ADD_DATE=\"1600000001\">Titled</A>\n"
          "    <DT><A HREF=\"https://untitled.example/\"></A>\n"
          "    <DT><A HREF=\"place:sort=8\">Most Visited</A>\n"
          "    <DT><A HREF=\"javascript:alert(1)\">Bookmarklet</A>\n"
          "  </DL><p>\n"
          "</DL><p>\n</DL>\n";
    const QString path = freshPath(QStringLiteral(".html"));
    QVERIFY(writeFile(path, html));

    auto store = openStore();
    QVERIFY(store);
    ModelContext *context = store->mainContext();
    QList<SentSignal> sent;
    QStringList fetched;
    DataExchange exchange(context);
    exchange.setSignalHook(recordSignals(&sent));
    exchange.setFetchFunction(recordFetches(&fetched));
    QSignalSpy refreshed(&exchange, &DataExchange::metadataRefreshFinished);
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.source, QStringLiteral("html"));
    QCOMPARE(result.linkCount, 4);
    QCOMPARE(result.skippedNonWeb, 2);
    QCOMPARE(result.skippedDuplicates, 0);
    QCOMPARE(result.notes(), QStringList { QStringLiteral("已跳过 2 个非网页链接") });
    QCOMPARE(
        groupNames(context), (QStringList { QStringLiteral("未分类"), QStringLiteral("书签工具栏 / 工作") }));

    // The browser's titles, descriptions, dates and icons are the user's own and are kept.
    BookmarkItem *described = linkTo(context, QStringLiteral("https://described.example/"));
    QVERIFY(described);
    QCOMPARE(described->title(), std::optional<QString>(QStringLiteral("Described & titled")));
    QCOMPARE(described->summary(), std::optional<QString>(QStringLiteral("My own words")));
    QCOMPARE(described->createdAt(), QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC));
    QCOMPARE(described->iconData(), std::optional<QByteArray>(icon));
    BookmarkItem *titled = linkTo(context, QStringLiteral("https://titled.example/?a=1&note=2"));
    QVERIFY(titled);
    QCOMPARE(titled->summary(), std::optional<QString>(placeholder));
    QVERIFY(!titled->iconData());
    BookmarkItem *untitled = linkTo(context, QStringLiteral("https://untitled.example/"));
    QVERIFY(untitled);
    QCOMPARE(untitled->title(), std::optional<QString>(QStringLiteral("https://untitled.example/")));
    QCOMPARE(groupNamed(context, QStringLiteral("未分类"))->bookmarks().first()->createdAt(),
        QDateTime::fromSecsSinceEpoch(1500000000, Qt::UTC));

    // Only links that came without a title or a summary are fetched.
    QVERIFY(refreshed.count() == 1 || refreshed.wait(5000));
    fetched.sort();
    QCOMPARE(fetched,
        (QStringList { QStringLiteral("https://loose.example/"),
            QStringLiteral("https://titled.example/?a=1&note=2"),
            QStringLiteral("https://untitled.example/") }));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].name, QStringLiteral("data_imported"));
    QCOMPARE(sent[0].parameters,
        (QMap<QString, QString> { { QStringLiteral("groupCount"), QStringLiteral("2") },
            { QStringLiteral("linkCount"), QStringLiteral("4") },
            { QStringLiteral("source"), QStringLiteral("html") } }));
}

void BrowserImportTest::everyFormatNamesItsSource_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("source");
    QTest::newRow("chromium") << fixture(QStringLiteral("chromium-Bookmarks.json"))
                              << QStringLiteral("chromium");
    QTest::newRow("firefox backup") << fixture(QStringLiteral("firefox-backup.json"))
                                    << QStringLiteral("firefox");
    QTest::newRow("firefox html") << fixture(QStringLiteral("firefox-export.html")) << QStringLiteral("html");
    QTest::newRow("bramble") << QByteArray(
        R"({"groups":[{"name":"G","createdAt":"2020-01-01T00:00:00Z",)"
        R"("bookmarks":[{"urlString":"https://a.example","createdAt":)"
        R"("2020-01-01T00:00:00Z"}]}],"exportedAt":"2020-01-02T00:00:00Z"})")
                             << QStringLiteral("bramble");
}

void BrowserImportTest::everyFormatNamesItsSource()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, source);
    QVERIFY(!contents.isEmpty());
    // Told from the content: the name says nothing.
    const QString path = freshPath(QStringLiteral(".txt"));
    QVERIFY(writeFile(path, contents));
    auto store = openStore();
    QList<SentSignal> sent;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    exchange.setRefreshAfterImport(false);
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-1);
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.source, source);
    QVERIFY(result.linkCount > 0);
    QCOMPARE(store->mainContext()->itemCount(), result.linkCount);
    QCOMPARE(sent.last().parameters.value(QStringLiteral("source")), source);
    // Bramble's own file keeps its rule: the import's times, not the file's; a browser's dates stay.
    int older = 0;
    for (const BookmarkItem *item : store->mainContext()->items())
        older += item->createdAt() < start ? 1 : 0;
    QCOMPARE(older > 0, source != QLatin1String("bramble"));
}

void BrowserImportTest::skipExistingLeavesOutWhatIsThere()
{
    const QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><H3>A</H3>\n<DL><p>\n"
                            "<DT><A HREF=\"https://example.com/a\">In the library already</A>\n"
                            "<DT><A HREF=\"https://new.example/\">New</A>\n"
                            "<DT><A HREF=\"https://NEW.example:443/#top\">New again</A>\n"
                            "</DL><p>\n<DT><H3>Only repeats</H3>\n<DL><p>\n"
                            "<DT><A HREF=\"https://new.example\">Third time</A>\n</DL><p>\n</DL>\n";
    const QString path = freshPath(QStringLiteral(".html"));
    QVERIFY(writeFile(path, html));
    auto store = openStore();
    ModelContext *context = store->mainContext();
    auto *mine = new BookmarkGroup(QStringLiteral("mine"));
    context->insert(mine);
    new BookmarkItem(QStringLiteral("https://Example.com/a/"), mine);
    DataExchange exchange(context);
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    exchange.setRefreshAfterImport(false);

    ImportOptions skip;
    skip.skipExisting = true;
    ImportResult result = QCoro::waitFor(exchange.importData(path, skip));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.linkCount, 1);
    QCOMPARE(result.skippedDuplicates, 3);
    QCOMPARE(result.notes(), QStringList { QStringLiteral("已跳过 3 个重复链接") });
    // A group left with nothing makes no group.
    QCOMPARE(groupNames(context), (QStringList { QStringLiteral("mine"), QStringLiteral("A") }));
    QCOMPARE(context->itemCount(), 2);

    // A second time, everything is there already.
    result = QCoro::waitFor(exchange.importData(path, skip));
    QVERIFY(result.ok);
    QCOMPARE(result.linkCount, 0);
    QCOMPARE(result.skippedDuplicates, 4);
    QCOMPARE(context->itemCount(), 2);

    // Without the option everything comes in, Bramble's own file included.
    result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(result.ok);
    QCOMPARE(result.linkCount, 4);
    QCOMPARE(result.skippedDuplicates, 0);
    QVERIFY(result.notes().isEmpty());
    const QString json = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(json,
        R"({"groups":[{"name":"J","createdAt":"2020-01-01T00:00:00Z","bookmarks":[)"
        R"({"urlString":"https://new.example/","createdAt":"2020-01-01T00:00:00Z"},)"
        R"({"urlString":"https://json-only.example/","createdAt":"2020-01-01T00:00:00Z"}]}],)"
        R"("exportedAt":"2020-01-02T00:00:00Z"})"));
    QCOMPARE(QCoro::waitFor(exchange.importData(json)).linkCount, 2);
    result = QCoro::waitFor(exchange.importData(json, skip));
    QCOMPARE(result.linkCount, 0);
    QCOMPARE(result.skippedDuplicates, 2);
}

void BrowserImportTest::brokenBrowserFilesCreateNothing_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("says");
    QByteArray chromium = fixture(QStringLiteral("chromium-Bookmarks.json"));
    QTest::newRow("truncated chromium")
        << chromium.left(chromium.size() / 2) << QStringLiteral("not valid JSON");
    QTest::newRow("compressed firefox backup")
        << (QByteArray("mozLz40\0", 8) + "garbage") << QStringLiteral("jsonlz4");
    QTest::newRow("not a bookmark file")
        << QByteArray("just some text\n") << QStringLiteral("not a bookmark file");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("empty");
}

void BrowserImportTest::brokenBrowserFilesCreateNothing()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, says);
    const QString path = freshPath(QStringLiteral(".html"));
    QVERIFY(writeFile(path, contents));
    auto store = openStore();
    QList<SentSignal> sent;
    QStringList fetched;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    exchange.setFetchFunction(recordFetches(&fetched));
    QSignalSpy importing(&exchange, &DataExchange::importingChanged);
    ImportOptions skip;
    skip.skipExisting = true;
    const ImportResult result = QCoro::waitFor(exchange.importData(path, skip));
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(says), qPrintable(result.error));
    QCOMPARE(store->mainContext()->groupCount(), 0);
    QCOMPARE(store->mainContext()->itemCount(), 0);
    QVERIFY(sent.isEmpty());
    QVERIFY(fetched.isEmpty());
    QCOMPARE(importing.count(), 2);
    QVERIFY(!exchange.isImporting());
}

void BrowserImportTest::htmlExportReadsBackTheSame()
{
    auto source = openStore();
    ModelContext *context = source->mainContext();
    const QByteArray icon = imageBytes();
    // Made in one order, shown in another: the sidebar's order is what the browser gets.
    auto *second = new BookmarkGroup(QStringLiteral("Second <&> \"group\""));
    auto *first = new BookmarkGroup(QStringLiteral("First"));
    context->insert(second);
    context->insert(first);
    first->setSortOrder(1);
    second->setSortOrder(2);
    auto *late = new BookmarkItem(QStringLiteral("https://a.example/?x=1&y=\"2\""), first);
    auto *early = new BookmarkItem(QStringLiteral("https://b.example/"), first);
    late->setSortOrder(20);
    early->setSortOrder(10);
    late->setTitle(QStringLiteral("Title with <b>markup</b> & \"quotes\""));
    late->setSummary(QStringLiteral("A summary of one's own"));
    late->setIconData(icon);
    early->setTitle(QStringLiteral("Early"));
    early->setSummary(placeholder);
    auto *other = new BookmarkItem(QStringLiteral("https://c.example/"), second);
    other->setTitle(QStringLiteral("中文标题"));
    other->setSummary(QStringLiteral("摘要"));
    const QDateTime created = QDateTime::fromSecsSinceEpoch(1650000000, Qt::UTC);
    other->setCreatedAt(created);
    QVERIFY(context->save());

    QList<SentSignal> sent;
    DataExchange exporter(context);
    exporter.setSignalHook(recordSignals(&sent));
    const QString path = freshPath(QStringLiteral(".html"));
    const ExportResult exported = QCoro::waitFor(exporter.exportData(path, ExportFormat::Html));
    QVERIFY2(exported.ok, qPrintable(exported.error));
    QCOMPARE(exported.groupCount, 2);
    QCOMPARE(exported.linkCount, 3);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].name, QStringLiteral("data_exported"));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QVERIFY(bytes.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
    QVERIFY(bytes.contains("ADD_DATE=\"1650000000\""));
    QVERIFY(!bytes.contains("<b>"));

    auto target = openStore();
    DataExchange importer(target->mainContext());
    importer.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    importer.setRefreshAfterImport(false);
    const ImportResult imported = QCoro::waitFor(importer.importData(path));
    QVERIFY2(imported.ok, qPrintable(imported.error));
    QCOMPARE(imported.source, QStringLiteral("html"));
    ModelContext *back = target->mainContext();
    QCOMPARE(
        groupNames(back), (QStringList { QStringLiteral("First"), QStringLiteral("Second <&> \"group\"") }));
    const QList<BookmarkItem *> firstLinks = groupNamed(back, QStringLiteral("First"))->bookmarks();
    QCOMPARE(firstLinks.size(), 2);
    QCOMPARE(firstLinks[0]->urlString(), QStringLiteral("https://b.example/"));
    QCOMPARE(firstLinks[0]->title(), std::optional<QString>(QStringLiteral("Early")));
    // The placeholder is no summary: it is not written, and comes back as a placeholder.
    QCOMPARE(firstLinks[0]->summary(), std::optional<QString>(placeholder));
    QCOMPARE(firstLinks[1]->urlString(), late->urlString());
    QCOMPARE(firstLinks[1]->title(), late->title());
    QCOMPARE(firstLinks[1]->summary(), late->summary());
    QCOMPARE(firstLinks[1]->iconData(), std::optional<QByteArray>(icon));
    BookmarkItem *otherBack = groupNamed(back, QStringLiteral("Second <&> \"group\""))->bookmarks().first();
    QCOMPARE(otherBack->title(), other->title());
    QCOMPARE(otherBack->summary(), other->summary());
    QCOMPARE(otherBack->createdAt(), created);
}

void BrowserImportTest::htmlExportRefusesWhatIsNotARegularFile()
{
    auto store = openStore();
    auto *group = new BookmarkGroup(QStringLiteral("g"));
    store->mainContext()->insert(group);
    new BookmarkItem(QStringLiteral("https://a.example/"), group);
    QList<SentSignal> sent;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    // Saving by renaming would put a regular file where the pipe was and call that a success.
    const QString fifo = freshPath(QStringLiteral(".html"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ExportResult result = QCoro::waitFor(exchange.exportData(fifo, ExportFormat::Html));
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("not a regular file")), qPrintable(result.error));
    QVERIFY(!QFileInfo(fifo).isFile() && QFileInfo::exists(fifo));
    const QString folder = freshPath(QStringLiteral(".html"));
    QVERIFY(QDir().mkpath(folder));
    result = QCoro::waitFor(exchange.exportData(folder, ExportFormat::Html));
    QVERIFY(!result.ok);
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(sent.isEmpty());
}

BRAMBLE_TEST_CORE_MAIN(BrowserImportTest)
#include "tst_browser_import.moc"
