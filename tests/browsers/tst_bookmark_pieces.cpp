// A large browser file is parsed in pieces on several cores; these tests hold that to giving
// exactly what one tree of the whole file gives, and to not cutting markup of any other shape.
#include "BrowserFixtures.h"
#include "exchange/BookmarkHtmlPieces.h"
#include "exchange/NetscapeBookmarkReader.h"

#include <QCryptographicHash>
#include <QTest>

using Mode = NetscapeBookmarkReader::ReadMode;

namespace {

// What the file gives no date is dated now, a moment apart in two reads.
QString dated(const QDateTime &date)
{
    return date.secsTo(QDateTime::currentDateTimeUtc()) < 3600 ? QStringLiteral("now")
                                                               : date.toString(Qt::ISODate);
}

// Everything a read yields, one line a group or link, so that a difference shows where it is.
QStringList described(const QByteArray &html, Mode mode, int *pieces = nullptr)
{
    QString error;
    const std::optional<ImportedBookmarks> read = NetscapeBookmarkReader::read(html, &error, mode, pieces);
    if (!read)
        return { QStringLiteral("error: ") + error };
    QStringList lines { QStringLiteral("source %1, non-web %2").arg(read->source).arg(read->skippedNonWeb) };
    for (const ExportGroup &group : read->data.groups) {
        lines << QStringLiteral("group %1 @%2").arg(group.name, dated(group.createdAt));
        for (const ExportItem &item : group.bookmarks) {
            lines << QStringLiteral("  %1 | %2 | %3 | %4 | %5")
                         .arg(item.urlString, item.title.value_or(QStringLiteral("<none>")),
                             item.summary.value_or(QStringLiteral("<none>")), dated(item.createdAt),
                             item.iconData ? QString::fromLatin1(
                                 QCryptographicHash::hash(*item.iconData, QCryptographicHash::Sha1).toHex())
                                           : QStringLiteral("no icon"));
        }
    }
    return lines;
}

QByteArray pngDataUri()
{
    // A 1×1 PNG.
    return "data:image/"
           "png;base64,"
           "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";
}

// The shapes browsers write, folders nested five deep, repeated until the file is large.
QByteArray browserShapedFile(int rounds)
{
    QByteArray out
        = "\xEF\xBB\xBF<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- This is an automatically generated "
          "file. -->\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
          "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n\n<DL><p>\n";
    out += "    <DT><H3 ADD_DATE=\"1600000000\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks Toolbar</H3>\n"
           "    <DL><p>\n        <DT><A HREF=\"https://toolbar.example/\" "
           "ADD_DATE=\"1600000001\">Toolbar</A>\n"
           "    </DL><p>\n";
    for (int r = 0; r < rounds; ++r) {
        const QByteArray n = QByteArray::number(r);
        out += "    <DT><A HREF=\"https://top.example/" + n + "?a=1&amp;b=2&note=3\" ADD_DATE=\"160000" + n
            + "\">Top &amp; link " + n + " — 顶层</A>\n    <DD>A description\n    spanning lines " + n + "\n";
        out += "    <DT><H3 ADD_DATE=\"1600001000\">Level 1 / " + n
            + "</H3>\n    <DD>About the folder\n"
              "    <DL><p>\n";
        for (int depth = 2; depth <= 5; ++depth) {
            const QByteArray d = QByteArray::number(depth);
            out += "<DT><H3>Level " + d + "</H3>\n<DL><p>\n";
            out += "<DT><A HREF=\"https://deep.example/" + n + "/" + d + "\" ICON=\"" + pngDataUri()
                + "\">Deep " + d + "</A>\n";
            out += "<dt><a href='https://lower.example/" + n + "/" + d + "' add_date='1700000000'>lower " + d
                + "</a>\n<DD>after a link\n";
            out += "<DT><A HREF=\"javascript:void(0)\">Script</A>\n";
            out += "<DT><H3>Empty " + d + "</H3>\n<DL><p>\n</DL><p>\n";
            out += "<DT><H3>Heading without list</H3>\n";
        }
        for (int depth = 5; depth >= 2; --depth)
            out += "<DT><A HREF=\"https://after.example/" + n + "/" + QByteArray::number(depth)
                + "\">After &lt;" + QByteArray::number(depth) + "&gt;</A>\n</DL><p>\n";
        out += "    </DL><p>\n<HR>\n";
    }
    out += "</DL><p>\n";
    return out;
}

} // namespace

class BookmarkPiecesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void piecesReadAsTheWholeFile_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<bool>("mustBeCut");
        QTest::newRow("browser shapes") << browserShapedFile(40) << true;
        // Spaces around '=' and a '>' inside a quoted value are read as HTML reads them.
        QTest::newRow("spaced attributes") << browserShapedFile(40).replace(
            "<DT><A HREF=\"https://deep.example/", "<DT><A  HREF = \"https://deep.example/>")
                                           << true;
        QTest::newRow("Firefox export")
            << BrowserFixtures::fixture(QStringLiteral("firefox-export.html")) << false;
        QTest::newRow("service export")
            << BrowserFixtures::fixture(QStringLiteral("service-export.html")) << false;
        // Unclosed at the end: cut off, and not cut here either.
        QByteArray cutOff = browserShapedFile(10);
        cutOff.chop(int(cutOff.size() - cutOff.lastIndexOf("</DL>")));
        QTest::newRow("cut off") << cutOff << false;
    }

    void piecesReadAsTheWholeFile()
    {
        QFETCH(QByteArray, html);
        QFETCH(bool, mustBeCut);
        int pieces = 0;
        const QStringList whole = described(html, Mode::Whole);
        const QStringList cut = described(html, Mode::SmallPieces, &pieces);
        if (mustBeCut)
            QCOMPARE_GT(pieces, 4);
        QCOMPARE(cut, whole);
        QVERIFY(whole.size() > 1 || whole.first().startsWith(QLatin1String("error")));
    }

    // A file refused while its pieces are walked is refused as a whole file is, without
    // reading it again.
    void refusedFilesAreRefusedInPiecesToo()
    {
        QByteArray deep;
        for (int i = 0; i < 70; ++i)
            deep += "<DT><H3>Deeper</H3>\n<DL><p>\n";
        deep += "<DT><A HREF=\"https://deep.example/\">deep</A>\n";
        for (int i = 0; i < 70; ++i)
            deep += "</DL><p>\n";
        const QByteArray plain = browserShapedFile(6);
        const qsizetype middle = plain.indexOf("<DT>", plain.size() / 2);
        const QByteArray html = plain.left(middle) + deep + plain.mid(middle);
        int pieces = 0;
        const QStringList cut = described(html, Mode::SmallPieces, &pieces);
        QCOMPARE_GT(pieces, 1);
        QVERIFY2(cut.first().startsWith(QLatin1String("error: ")), qPrintable(cut.first()));
        QCOMPARE(cut, described(html, Mode::Whole));
    }

    // Every other shape is read whole: cutting it could change the tree.
    void otherMarkupIsNotCut_data()
    {
        QTest::addColumn<QByteArray>("odd");
        QTest::newRow("formatting in a title")
            << QByteArray("<DT><A HREF=\"https://b.example/\"><B>bold</B></A>\n");
        QTest::newRow("unclosed link") << QByteArray("<DT><A HREF=\"https://u.example/\">open\n");
        QTest::newRow("stray end tag") << QByteArray("</A>\n");
        QTest::newRow("processing instruction") << QByteArray("<?xml <DT> ?>\n");
        QTest::newRow("abrupt comment") << QByteArray("<!--><DT><A HREF=\"https://c.example/\">c</A>\n");
        QTest::newRow("comment closed by --!>") << QByteArray("<!-- x --!><DT>\n");
        QTest::newRow("quote in an unquoted value")
            << QByteArray("<DT><A HREF=https://v.example/\"x>v</A>\n");
        QTest::newRow("quote inside a name")
            << QByteArray("<DT><A x\"=\"y\" HREF=\"https://n.example/\">n</A>\n");
        QTest::newRow("table") << QByteArray("<table><DT><A HREF=\"https://t.example/\">t</A>\n");
        QTest::newRow("script") << QByteArray("<script>\"</DL>\"</script>\n");
        QTest::newRow("list closed twice") << QByteArray("</DL><p>\n");
        QTest::newRow("heading left open") << QByteArray("<DT><H3>open heading\n<DL><p></DL><p>\n");
    }

    void otherMarkupIsNotCut()
    {
        QFETCH(QByteArray, odd);
        const QByteArray plain = browserShapedFile(6);
        QVERIFY(!BookmarkHtmlPieces::split(plain, 8, 1024).empty());
        // The odd markup in the middle of an otherwise plain file.
        const qsizetype middle = plain.indexOf("<DT>", plain.size() / 2);
        const QByteArray html = plain.left(middle) + odd + plain.mid(middle);
        QVERIFY(BookmarkHtmlPieces::split(html, 8, 1024).empty());
        int pieces = 0;
        QCOMPARE(described(html, Mode::SmallPieces, &pieces), described(html, Mode::Whole));
        QCOMPARE(pieces, 1);
    }

    void piecesStartAtAnEntryWithTheirListsCounted()
    {
        const QByteArray html = browserShapedFile(20);
        const auto pieces = BookmarkHtmlPieces::split(html, 6, 1024);
        QCOMPARE(int(pieces.size()), 6);
        qsizetype next = 0;
        for (const BookmarkHtmlPieces::Piece &piece : pieces) {
            QCOMPARE(piece.offset, next);
            next += piece.size;
            if (piece.offset > 0) {
                QVERIFY(html.mid(piece.offset, 4).compare("<DT>", Qt::CaseInsensitive) == 0);
                const QByteArray before = html.left(piece.offset).toLower();
                QCOMPARE(piece.depth, int(before.count("<dl>") - before.count("</dl>")));
            }
        }
        QCOMPARE(next, html.size());
        // Too small to be worth cutting, or asked for one piece.
        QVERIFY(BookmarkHtmlPieces::split(html, 6).empty());
        QVERIFY(BookmarkHtmlPieces::split(html, 1, 1024).empty());
    }

    // Past the size where cutting pays, the automatic read cuts and still gives the same.
    void largeFilesAreCutByThemselves()
    {
        const QByteArray html = browserShapedFile(2000);
        QVERIFY(html.size() > 3 * BookmarkHtmlPieces::minPieceBytes);
        int pieces = 0;
        const QStringList automatic = described(html, Mode::Automatic, &pieces);
        QCOMPARE_GT(pieces, 1);
        QCOMPARE(automatic, described(html, Mode::Whole));
    }
};

QTEST_GUILESS_MAIN(BookmarkPiecesTest)
#include "tst_bookmark_pieces.moc"
