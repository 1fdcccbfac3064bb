// Reading browser bookmark files at the size of a very large library, 100,000 links in
// 1,000 folders generated here, and importing one of them whole as the settings window does.
#include "exchange/BookmarkFileReader.h"
#include "exchange/DataExchange.h"
#include "exchange/HtmlNestingEstimate.h"
#include "exchange/NetscapeBookmarkReader.h"
#include "exchange/NetscapeBookmarkWriter.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <malloc.h>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int folderCount = 1000;
constexpr int linksPerFolder = 100;

double statusMiB(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Lets the peak figure start from the current resident size.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QByteArray iconBytes()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The shape of a real export: folders three levels deep under the toolbar and menu, one link
// in ten with a description, one in twenty with an inline icon, a few non-web links.
QByteArray generatedHtml()
{
    const QByteArray icon = "data:image/png;base64," + iconBytes().toBase64();
    QByteArray out;
    out.reserve(40 * 1024 * 1024);
    out += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
           "charset=UTF-8\">\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n<DL><p>\n";
    for (int f = 0; f < folderCount; ++f) {
        const bool nested = f % 10 != 0;
        if (!nested)
            out += QStringLiteral("    <DT><H3 ADD_DATE=\"1600000000\">Topic %1 主题</H3>\n    <DL><p>\n")
                       .arg(f)
                       .toUtf8();
        out += QStringLiteral(
            "        <DT><H3 ADD_DATE=\"1600000000\">Folder %1 &amp; notes</H3>\n        <DL><p>\n")
                   .arg(f)
                   .toUtf8();
        for (int i = 0; i < linksPerFolder; ++i) {
            out += QStringLiteral(
                "            <DT><A HREF=\"https://site%1.example/articles/%2?ref=bookmarks&amp;id=%2\" "
                "ADD_DATE=\"%3\" LAST_MODIFIED=\"%3\"")
                       .arg(f)
                       .arg(i)
                       .arg(1600000000 + f * 100 + i)
                       .toUtf8();
            if (i % 20 == 0)
                out += " ICON=\"" + icon + '"';
            out += QStringLiteral(">Article %1 on site %2 — a title of usual length</A>\n")
                       .arg(i)
                       .arg(f)
                       .toUtf8();
            if (i % 10 == 0)
                out += QStringLiteral(
                    "            <DD>A one-line description of article %1 that is about this long.\n")
                           .arg(i)
                           .toUtf8();
        }
        out += "        </DL><p>\n";
        if (f % 10 == 9 || f + 1 == folderCount)
            out += "    </DL><p>\n";
        if (f % 100 == 0)
            out += "    <DT><A HREF=\"place:sort=8&maxResults=10\">Most Visited</A>\n";
    }
    out += "</DL>\n";
    return out;
}

QByteArray generatedChromium()
{
    QByteArray out
        = "{\"roots\":{\"bookmark_bar\":{\"type\":\"folder\",\"name\":\"Bookmarks bar\",\"children\":[";
    for (int f = 0; f < folderCount; ++f) {
        if (f > 0)
            out += ',';
        out += QStringLiteral("{\"type\":\"folder\",\"name\":\"Folder %1\",\"children\":[").arg(f).toUtf8();
        for (int i = 0; i < linksPerFolder; ++i) {
            if (i > 0)
                out += ',';
            out += QStringLiteral(
                "{\"type\":\"url\",\"name\":\"Article %1 on site %2\",\"url\":\"https://site%2.example/"
                "articles/%1\",\"date_added\":\"13345678901234567\",\"guid\":\"%2-%1\"}")
                       .arg(i)
                       .arg(f)
                       .toUtf8();
        }
        out += "]}";
    }
    out += "]},\"other\":{\"type\":\"folder\",\"children\":[]},\"synced\":{\"type\":\"folder\",\"children\":["
           "]}},"
           "\"version\":1}";
    return out;
}

bool generatePlaces(const QString &path)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("generate"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        const auto exec = [&](const QString &sql) { ok = ok && query.exec(sql); };
        exec(QStringLiteral(
            "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, "
            "guid TEXT, description TEXT)"));
        exec(QStringLiteral(
            "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER, parent "
            "INTEGER, position INTEGER, title LONGVARCHAR, dateAdded INTEGER, guid TEXT)"));
        db.transaction();
        exec(QStringLiteral("INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, '', 0, 'root________'), "
                            "(2, 2, NULL, 1, 0, 'menu', 0, 'menu________'), "
                            "(3, 2, NULL, 1, 1, 'toolbar', 0, 'toolbar_____')"));
        QSqlQuery place(db), bookmark(db);
        place.prepare(QStringLiteral("INSERT INTO moz_places (id, url, title) VALUES (?, ?, ?)"));
        bookmark.prepare(QStringLiteral("INSERT INTO moz_bookmarks VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        qint64 id = 10;
        for (int f = 0; f < folderCount && ok; ++f) {
            const qint64 folder = id++;
            bookmark.addBindValue(folder);
            bookmark.addBindValue(2);
            bookmark.addBindValue(QVariant());
            bookmark.addBindValue(f % 2 ? 2 : 3);
            bookmark.addBindValue(f);
            bookmark.addBindValue(QStringLiteral("Folder %1").arg(f));
            bookmark.addBindValue(1600000000000000LL);
            bookmark.addBindValue(QStringLiteral("folder%1").arg(f));
            ok = bookmark.exec();
            for (int i = 0; i < linksPerFolder && ok; ++i) {
                const qint64 link = id++;
                place.addBindValue(link);
                place.addBindValue(QStringLiteral("https://site%1.example/articles/%2").arg(f).arg(i));
                place.addBindValue(QStringLiteral("Article %1").arg(i));
                bookmark.addBindValue(link);
                bookmark.addBindValue(1);
                bookmark.addBindValue(link);
                bookmark.addBindValue(folder);
                bookmark.addBindValue(i);
                bookmark.addBindValue(QStringLiteral("Article %1 on site %2").arg(i).arg(f));
                bookmark.addBindValue(1600000000000000LL + link);
                bookmark.addBindValue(QStringLiteral("b%1").arg(link));
                ok = place.exec() && bookmark.exec();
            }
        }
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("generate"));
    return ok;
}

struct Measured
{
    double ms = 0;
    double peakMiB = 0;
    int links = 0;
    int skipped = 0;
    QString error;
};

template<typename Read> Measured measure(Read read, int runs = 3)
{
    std::vector<double> times;
    Measured measured;
    for (int run = 0; run < runs; ++run) {
        // What earlier runs freed goes back to the system, so it cannot hide this run's peak.
        malloc_trim(0);
        const double before = statusMiB("VmRSS:");
        resetPeakMemory();
        const auto start = Clock::now();
        const BookmarkReadResult result = read();
        times.push_back(Bench::msSince(start));
        measured.peakMiB = std::max(measured.peakMiB, statusMiB("VmHWM:") - before);
        if (result.bookmarks) {
            measured.links = result.bookmarks->data.linkCount();
            measured.skipped = result.bookmarks->skippedNonWeb;
        } else {
            measured.error = result.error;
        }
    }
    measured.ms = Bench::median(times);
    return measured;
}

QString mib(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" MiB");
}

struct ImportRun
{
    double ms = 0;
    // The longest stretch in which a timer due every millisecond could not fire.
    double longestGapMs = 0;
    double peakMiB = 0;
    ImportResult result;
};

// The whole import as the settings window runs it: read on a worker, records made and saved
// on this thread in batches, up to the moment the success alert would show. No metadata is
// fetched: nothing here may reach the network.
ImportRun runImport(ModelContext *context, const QString &path, ImportOptions options)
{
    DataExchange exchange(context);
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    exchange.setRefreshAfterImport(false);
    ImportRun run;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        run.longestGapMs = std::max(run.longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    malloc_trim(0);
    const double before = statusMiB("VmRSS:");
    resetPeakMemory();
    QEventLoop loop;
    const auto start = Clock::now();
    sinceTick.start();
    tick.start();
    bool done = false;
    exchange.importData(path, options).then([&](const ImportResult &result) {
        run.ms = Bench::msSince(start);
        run.result = result;
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    tick.stop();
    run.peakMiB = statusMiB("VmHWM:") - before;
    return run;
}

void addImportRows(Bench::Table &table, const QString &folder, const QByteArray &html)
{
    const QString file = folder + QStringLiteral("/bookmarks.html");
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(html) != html.size())
        return;
    out.close();
    QString error;
    auto container = ModelContainer::open(folder + QStringLiteral("/import.sqlite"), &error);
    if (!container) {
        table.add(QStringLiteral("import through DataExchange"), error);
        return;
    }
    const ImportRun whole = runImport(container->mainContext(), file, {});
    const QString failed = whole.result.ok ? QString() : whole.result.error;
    table.add(QStringLiteral("HTML import, 100,000 links: time to success"),
        failed.isEmpty() ? Bench::ms(whole.ms) : failed, QStringLiteral("< 3000 ms"));
    table.add(QStringLiteral("HTML import: longest gap without an event-loop turn"),
        Bench::ms(whole.longestGapMs), QStringLiteral("<= 50 ms"));
    table.add(QStringLiteral("HTML import: peak memory above the start"), mib(whole.peakMiB));
    table.add(QStringLiteral("HTML import: groups / links created"),
        QStringLiteral("%1 / %2").arg(whole.result.groupCount).arg(whole.result.linkCount));

    // The same file again with --skip-existing: every address is compared with the library's.
    ImportOptions skip;
    skip.skipExisting = true;
    const ImportRun again = runImport(container->mainContext(), file, skip);
    table.add(QStringLiteral("again, --skip-existing against those links: time"),
        again.result.ok ? Bench::ms(again.ms) : again.result.error, QStringLiteral("< 3000 ms"));
    table.add(QStringLiteral("again: longest gap / links skipped"),
        QStringLiteral("%1 / %2").arg(Bench::ms(again.longestGapMs)).arg(again.result.skippedDuplicates),
        QStringLiteral("<= 50 ms"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Bench::Table table;

    const QByteArray html = generatedHtml();
    const Measured htmlRead = measure([&html] { return BookmarkFileReader::read(html); });
    table.add(
        QStringLiteral("HTML file of 100,000 links in 1,000 folders: size"), mib(html.size() / 1048576.0));
    table.add(QStringLiteral("HTML: read into groups, worker thread (median of 3)"), Bench::ms(htmlRead.ms),
        QStringLiteral("< 3000 ms"));
    table.add(QStringLiteral("HTML: peak memory above the file itself"), mib(htmlRead.peakMiB));
    const auto shape = HtmlNestingEstimate::measure(html, NetscapeBookmarkReader::maxNestingDepth);
    table.add(QStringLiteral("HTML: estimated nesting / parse work"),
        QStringLiteral("%1 / %L2").arg(shape.depth).arg(shape.work),
        QStringLiteral("< %1 M").arg(NetscapeBookmarkReader::maxParseWork / 1000000));
    table.add(QStringLiteral("HTML: links read / non-web skipped"),
        htmlRead.error.isEmpty() ? QStringLiteral("%1 / %2").arg(htmlRead.links).arg(htmlRead.skipped)
                                 : htmlRead.error);

    BookmarkReadResult parsed = BookmarkFileReader::read(html);
    if (parsed.bookmarks) {
        ImportedBookmarks copy = *parsed.bookmarks;
        QStringList existing;
        for (const ExportGroup &group : copy.data.groups) {
            for (const ExportItem &item : group.bookmarks)
                existing.append(item.urlString);
        }
        existing = existing.mid(0, existing.size() / 2);
        auto start = Clock::now();
        copy.skipDuplicates(ImportedBookmarks::keysOf(existing));
        table.add(
            QStringLiteral("skip duplicates against 50,000 library links"), Bench::ms(Bench::msSince(start)));
        start = Clock::now();
        const QByteArray written = NetscapeBookmarkWriter::write(parsed.bookmarks->data);
        table.add(QStringLiteral("HTML: write 100,000 links back"), Bench::ms(Bench::msSince(start)));
    }

    const QByteArray chromium = generatedChromium();
    const Measured chromiumRead = measure([&chromium] { return BookmarkFileReader::read(chromium); });
    table.add(QStringLiteral("Chromium Bookmarks of 100,000 links: read (median of 3)"),
        Bench::ms(chromiumRead.ms));
    table.add(QStringLiteral("Chromium: peak memory above the file itself"), mib(chromiumRead.peakMiB));

    const QString places = dir.filePath(QStringLiteral("places.sqlite"));
    if (generatePlaces(places)) {
        const Measured placesRead = measure([&places] { return BookmarkFileReader::readFile(places); });
        table.add(QStringLiteral("places.sqlite, 100,000 links: copy and read (median of 3)"),
            Bench::ms(placesRead.ms));
        table.add(QStringLiteral("places.sqlite: links read"),
            placesRead.error.isEmpty() ? QString::number(placesRead.links) : placesRead.error);
    }
    addImportRows(table, dir.path(), html);
    table.print();
    return 0;
}
