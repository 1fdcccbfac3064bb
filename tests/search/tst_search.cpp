#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DuplicateLinks.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "search/LinkSearch.h"
#include "search/SearchFolding.h"
#include "support/TestEnvironment.h"

#include <QCoroTask>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using SearchFolding::Range;

class SearchTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    std::unique_ptr<ModelContainer> m_container;

    QString freshPath() { return m_dir.filePath(QStringLiteral("search-%1.sqlite").arg(++m_counter)); }

    ModelContext *open(const QString &path)
    {
        QString error;
        m_container = ModelContainer::open(path, &error);
        if (!m_container)
            qWarning() << "open failed:" << error;
        return m_container ? m_container->mainContext() : nullptr;
    }

    static BookmarkItem *link(BookmarkGroup *group, const QString &url, const QString &title,
        const QString &summary, qint64 createdSecs = 1700000000)
    {
        auto *item = new BookmarkItem(url, group);
        item->setTitle(title);
        item->setSummary(summary);
        item->setCreatedAt(QDateTime::fromSecsSinceEpoch(createdSecs, Qt::UTC));
        return item;
    }

    // The titles of what the query finds, in ranking order.
    QStringList titles(const QString &text, std::optional<qint64> group = std::nullopt, int limit = 0)
    {
        QSqlDatabase db = m_container->database();
        QString error;
        const auto hits = LinkSearch::find(
            db, { text, group ? QList<qint64> { *group } : QList<qint64>(), limit }, &error);
        if (!hits)
            return { QStringLiteral("error: ") + error };
        QStringList found;
        for (const LinkSearch::Hit &hit : *hits) {
            BookmarkItem *item = m_container->mainContext()->item(hit.itemId);
            found << (item ? item->title().value_or(QStringLiteral("<none>")) : QStringLiteral("<gone>"));
        }
        return found;
    }

    ModelContext *mixedLibrary(BookmarkGroup **work = nullptr, BookmarkGroup **home = nullptr)
    {
        ModelContext *context = open(freshPath());
        auto *a = new BookmarkGroup(QStringLiteral("工作"));
        auto *b = new BookmarkGroup(QStringLiteral("Home"));
        link(a, QStringLiteral("https://www.qq.com/"), QStringLiteral("腾讯首页"),
            QStringLiteral("新闻与服务"));
        link(a, QStringLiteral("https://www.yahoo.co.jp/"), QStringLiteral("東京の天気"),
            QStringLiteral("ニュースとガイド"));
        link(a, QStringLiteral("https://www.naver.com/"), QStringLiteral("네이버 뉴스"),
            QStringLiteral("한국 포털"));
        link(b, QStringLiteral("https://flore.example/"), QStringLiteral("Café de Flore"),
            QStringLiteral("Paris, Saint-Germain"));
        link(b, QStringLiteral("https://wide.example/"), QStringLiteral("Ｆｕｌｌ Ｗｉｄｔｈ Ｂｏｏｋｓ"),
            QStringLiteral("Straße und Ölmühle"));
        context->insert(a);
        context->insert(b);
        if (!context->save())
            return nullptr;
        if (work)
            *work = a;
        if (home)
            *home = b;
        return context;
    }

private Q_SLOTS:
    void foldingIgnoresCaseAccentsAndWidthOfLatinOnly()
    {
        using SearchFolding::fold;
        QCOMPARE(fold(QStringLiteral("Café")), QStringLiteral("cafe"));
        QCOMPARE(fold(QStringLiteral("Cafe\u0301")), QStringLiteral("cafe"));
        QCOMPARE(fold(QStringLiteral("ＣＡＦＥ １２")), QStringLiteral("cafe 12"));
        QCOMPARE(fold(QStringLiteral("Ǖber ÅNGSTRÖM")), QStringLiteral("uber angstrom"));
        QCOMPARE(fold(QStringLiteral("ﬁle")), QStringLiteral("file"));
        // Half-width katakana are the full-width ones; the voicing mark of ガ is not an accent.
        QCOMPARE(fold(QStringLiteral("ｶﾀｶﾅ")), QStringLiteral("カタカナ"));
        QVERIFY(fold(QStringLiteral("ガイド")) != fold(QStringLiteral("カイド")));
        // Hangul syllables stay whole, Greek and Cyrillic letters keep their marks.
        QCOMPARE(fold(QStringLiteral("뉴스")), QStringLiteral("뉴스"));
        QCOMPARE(fold(QStringLiteral("Йод")), QStringLiteral("йод"));
        QCOMPARE(fold(QStringLiteral("腾讯 🙂 x")), QStringLiteral("腾讯 🙂 x"));
    }

    void queryWordsAreFoldedSplitAndUnique()
    {
        QCOMPARE(SearchFolding::queryWords(QStringLiteral("  Café\tCAFE\u3000首页 ")),
            (QStringList { QStringLiteral("cafe"), QStringLiteral("首页") }));
        QVERIFY(SearchFolding::queryWords(QStringLiteral(" \t\u3000")).isEmpty());
    }

    void matchesMarkTheOriginalText()
    {
        const QStringList words { QStringLiteral("cafe"), QStringLiteral("flo") };
        QCOMPARE(SearchFolding::matches(QStringLiteral("Café de Flore"), words),
            (QList<Range> { { 0, 4 }, { 8, 11 } }));
        // A decomposed accent is part of its letter, a full-width letter is one character.
        QCOMPARE(SearchFolding::matches(QStringLiteral("Cafe\u0301!"), { QStringLiteral("cafe") }),
            (QList<Range> { { 0, 5 } }));
        QCOMPARE(SearchFolding::matches(QStringLiteral("Ｂｏｏｋｓ"), { QStringLiteral("ok") }),
            (QList<Range> { { 2, 4 } }));
        // Overlapping words merge into one range.
        QCOMPARE(SearchFolding::matches(
                     QStringLiteral("腾讯首页"), { QStringLiteral("腾讯"), QStringLiteral("讯首") }),
            (QList<Range> { { 0, 3 } }));
        QCOMPARE(SearchFolding::matches(QStringLiteral("a🙂b"), { QStringLiteral("🙂") }),
            (QList<Range> { { 1, 3 } }));
        QVERIFY(SearchFolding::matches(QStringLiteral("nothing"), { QStringLiteral("zz") }).isEmpty());
    }

    void findsChineseJapaneseKoreanAccentedAndFullWidthText()
    {
        QVERIFY(mixedLibrary());
        // A word of two characters matches inside longer text as well as one of three.
        QCOMPARE(titles(QStringLiteral("首页")), QStringList { QStringLiteral("腾讯首页") });
        QCOMPARE(titles(QStringLiteral("腾讯首")), QStringList { QStringLiteral("腾讯首页") });
        QCOMPARE(titles(QStringLiteral("天気")), QStringList { QStringLiteral("東京の天気") });
        QCOMPARE(titles(QStringLiteral("ニュース")), QStringList { QStringLiteral("東京の天気") });
        QCOMPARE(titles(QStringLiteral("뉴스")), QStringList { QStringLiteral("네이버 뉴스") });
        QCOMPARE(titles(QStringLiteral("cafe")), QStringList { QStringLiteral("Café de Flore") });
        QCOMPARE(titles(QStringLiteral("CAFÉ")), QStringList { QStringLiteral("Café de Flore") });
        QCOMPARE(titles(QStringLiteral("ｃａｆｅ")), QStringList { QStringLiteral("Café de Flore") });
        QCOMPARE(titles(QStringLiteral("full books")),
            QStringList { QStringLiteral("Ｆｕｌｌ Ｗｉｄｔｈ Ｂｏｏｋｓ") });
        QCOMPARE(titles(QStringLiteral("olmuhle")),
            QStringList { QStringLiteral("Ｆｕｌｌ Ｗｉｄｔｈ Ｂｏｏｋｓ") });
        QCOMPARE(titles(QStringLiteral("naver.com")), QStringList { QStringLiteral("네이버 뉴스") });
    }

    void everyWordMustOccurSomewhere()
    {
        QVERIFY(mixedLibrary());
        // "flore" in the title, "paris" in the summary, "de" short: all three found.
        QCOMPARE(titles(QStringLiteral("paris flore de")), QStringList { QStringLiteral("Café de Flore") });
        QCOMPARE(titles(QStringLiteral("paris tokyo")), QStringList());
        QCOMPARE(titles(QStringLiteral("de zz")), QStringList());
        QCOMPARE(titles(QStringLiteral("   ")), QStringList());
        // Words that look like query syntax are only text.
        QCOMPARE(titles(QStringLiteral("\"flore")), QStringList());
        QCOMPARE(titles(QStringLiteral("flore AND OR NEAR(")), QStringList());
        QCOMPARE(titles(QStringLiteral("de*")), QStringList());
    }

    void ranksTitleBeforeAddressBeforeSummaryThenNewest()
    {
        ModelContext *context = open(freshPath());
        auto *group = new BookmarkGroup(QStringLiteral("g"));
        link(group, QStringLiteral("https://a.example/"), QStringLiteral("in summary, old"),
            QStringLiteral("about rust"), 1000);
        link(group, QStringLiteral("https://rust.example/"), QStringLiteral("in address"),
            QStringLiteral("x"), 900);
        link(group, QStringLiteral("https://b.example/"), QStringLiteral("Rust in title, old"),
            QStringLiteral("x"), 100);
        link(group, QStringLiteral("https://c.example/"), QStringLiteral("rust in title, new"),
            QStringLiteral("x"), 2000);
        link(group, QStringLiteral("https://d.example/"), QStringLiteral("in summary, new"),
            QStringLiteral("all rust"), 3000);
        context->insert(group);
        QVERIFY(context->save());
        const QStringList expected { QStringLiteral("rust in title, new"),
            QStringLiteral("Rust in title, old"), QStringLiteral("in address"),
            QStringLiteral("in summary, new"), QStringLiteral("in summary, old") };
        QCOMPARE(titles(QStringLiteral("rust")), expected);
        // Two characters take the other road to the same order.
        const QStringList shortOrder = titles(QStringLiteral("ru"));
        QCOMPARE(shortOrder, expected);
        QCOMPARE(titles(QStringLiteral("rust"), std::nullopt, 2), expected.mid(0, 2));
        // A word in the title and one in the summary rank after both in the address.
        QCOMPARE(titles(QStringLiteral("rust in"))[2], QStringLiteral("in address"));
    }

    void indexFollowsEditDeleteMoveAndReopening()
    {
        BookmarkGroup *work = nullptr;
        BookmarkGroup *home = nullptr;
        ModelContext *context = mixedLibrary(&work, &home);
        QVERIFY(context);
        BookmarkItem *cafe = context->item(4);
        QCOMPARE(cafe->title(), std::optional<QString>(QStringLiteral("Café de Flore")));

        cafe->setTitle(QStringLiteral("Les Deux Magots"));
        QVERIFY(context->save());
        QCOMPARE(titles(QStringLiteral("flore")), QStringList { QStringLiteral("Les Deux Magots") });
        QCOMPARE(titles(QStringLiteral("magots")), QStringList { QStringLiteral("Les Deux Magots") });
        cafe->setSummary(QStringLiteral("Rive gauche"));
        cafe->setUrlString(QStringLiteral("https://magots.example/"));
        QVERIFY(context->save());
        QCOMPARE(titles(QStringLiteral("flore")), QStringList());
        QCOMPARE(
            titles(QStringLiteral("gauche magots.ex")), QStringList { QStringLiteral("Les Deux Magots") });

        QCOMPARE(titles(QStringLiteral("magots"), work->id()), QStringList());
        cafe->setGroup(work);
        QVERIFY(context->save());
        QCOMPARE(
            titles(QStringLiteral("magots"), work->id()), QStringList { QStringLiteral("Les Deux Magots") });
        QCOMPARE(titles(QStringLiteral("magots"), home->id()), QStringList());

        context->remove(cafe);
        QVERIFY(context->save());
        QCOMPARE(titles(QStringLiteral("magots")), QStringList());
        // A group takes its links out of the index with it.
        context->remove(work);
        QVERIFY(context->save());
        QCOMPARE(titles(QStringLiteral("腾讯")), QStringList());
        QCOMPARE(titles(QStringLiteral("books")),
            QStringList { QStringLiteral("Ｆｕｌｌ Ｗｉｄｔｈ Ｂｏｏｋｓ") });

        const QString path = m_container->path();
        m_container.reset();
        QVERIFY(open(path));
        QCOMPARE(titles(QStringLiteral("books")),
            QStringList { QStringLiteral("Ｆｕｌｌ Ｗｉｄｔｈ Ｂｏｏｋｓ") });
        QCOMPARE(titles(QStringLiteral("magots")), QStringList());
        // The index holds nothing of the links that are gone.
        QSqlQuery count(m_container->database());
        QVERIFY(count.exec(QStringLiteral("SELECT COUNT(*) FROM search_text")) && count.next());
        QCOMPARE(count.value(0).toInt(), 1);
        QVERIFY(
            count.exec(QStringLiteral("SELECT title, address, summary FROM search_text")) && count.next());
        QCOMPARE(count.value(0).toString(), QStringLiteral("full width books"));
        QCOMPARE(count.value(1).toString(), QStringLiteral("https://wide.example/"));
        QCOMPARE(count.value(2).toString(), SearchFolding::fold(QStringLiteral("Straße und Ölmühle")));
    }

    void importedLinksAreFound()
    {
        ModelContext *context = open(freshPath());
        const QString path = m_dir.filePath(QStringLiteral("import.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "{\"groups\":[{\"name\":\"读书\",\"createdAt\":\"2025-03-01T09:30:00Z\",\"bookmarks\":[\n"
            " {\"urlString\":\"http://127.0.0.1:1/"
            "a\",\"title\":\"豆瓣读书\",\"summary\":\"书评\",\"createdAt\":\"2025-03-01T09:30:00Z\"},\n"
            " {\"urlString\":\"http://127.0.0.1:1/b\",\"title\":\"Crème "
            "brûlée\",\"createdAt\":\"2025-03-02T09:30:00Z\"}]}],\n"
            " \"exportedAt\":\"2025-03-01T09:30:00Z\"}");
        file.close();
        DataExchange exchange(context);
        exchange.setRefreshAfterImport(false);
        exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
        const ImportResult imported = QCoro::waitFor(exchange.importData(path));
        QVERIFY2(imported.ok, qPrintable(imported.error));
        QCOMPARE(titles(QStringLiteral("读书")), QStringList { QStringLiteral("豆瓣读书") });
        QCOMPARE(titles(QStringLiteral("creme brulee")), QStringList { QStringLiteral("Crème brûlée") });
        // Both in the address; the newer first.
        QCOMPARE(titles(QStringLiteral("127.0.0.1")),
            (QStringList { QStringLiteral("Crème brûlée"), QStringLiteral("豆瓣读书") }));
    }

    void linksWithoutTitleOrSummaryAreFoundByAddress()
    {
        ModelContext *context = open(freshPath());
        auto *group = new BookmarkGroup(QStringLiteral("g"));
        auto *bare = new BookmarkItem(QStringLiteral("https://bare.example/x"), group);
        // A present title that is a null string must not reach the NOT NULL column as NULL.
        auto *nullTitle = new BookmarkItem(QStringLiteral("https://null.example/"), group);
        nullTitle->setTitle(QString());
        nullTitle->setSummary(QString());
        context->insert(group);
        QString error;
        QVERIFY2(context->save(&error), qPrintable(error));
        QSqlDatabase db = m_container->database();
        const auto hits = LinkSearch::find(db, { QStringLiteral("bare"), {}, 0 });
        QVERIFY(hits);
        QCOMPARE(hits->size(), 1);
        QCOMPARE(hits->first().itemId, bare->id());
        QCOMPARE(hits->first().rank, 1);
    }
    void duplicatesAreFoundByEachNormalisationRule()
    {
        ModelContext *context = open(freshPath());
        auto *work = new BookmarkGroup(QStringLiteral("工作"));
        auto *read = new BookmarkGroup(QStringLiteral("阅读"));
        work->setSortOrder(0);
        read->setSortOrder(1);
        auto *stored = new BookmarkItem(QStringLiteral("https://example.com/docs?page=2"), work);
        context->insert(work);
        context->insert(read);
        DuplicateLinks *duplicates = DuplicateLinks::of(context);
        QCOMPARE(DuplicateLinks::of(context), duplicates);
        const QList<BookmarkItem *> found { stored };
        for (const QString &same : { QStringLiteral("https://example.com/docs?page=2"),
                 QStringLiteral("HTTPS://example.com/docs?page=2"),
                 QStringLiteral("https://EXAMPLE.Com/docs?page=2"),
                 QStringLiteral("https://example.com/docs/?page=2"),
                 QStringLiteral("https://example.com:443/docs?page=2"),
                 QStringLiteral("https://example.com/docs?page=2#part"),
                 QStringLiteral("example.com/docs?page=2") })
            QVERIFY2(duplicates->find(same) == found, qPrintable(same));
        for (const QString &other : { QStringLiteral("https://example.com/Docs?page=2"),
                 QStringLiteral("https://example.com/docs?page=3"),
                 QStringLiteral("http://example.com/docs?page=2"),
                 QStringLiteral("https://example.com:8443/docs?page=2"),
                 QStringLiteral("https://www.example.com/docs?page=2"), QString() })
            QVERIFY2(duplicates->find(other).isEmpty(), qPrintable(other));
        QCOMPARE(DuplicateLinks::notice(duplicates->find(QStringLiteral("example.com/docs?page=2"))),
            QStringLiteral("已在「工作」中"));
        // The link itself is no duplicate of itself.
        QVERIFY(duplicates->find(stored->urlString(), stored).isEmpty());
    }

    void duplicatesFollowAddsEditsAndDeletes()
    {
        ModelContext *context = open(freshPath());
        auto *work = new BookmarkGroup(QStringLiteral("工作"));
        auto *read = new BookmarkGroup(QStringLiteral("阅读"));
        work->setSortOrder(5);
        read->setSortOrder(1);
        context->insert(work);
        context->insert(read);
        DuplicateLinks *duplicates = DuplicateLinks::of(context);
        QVERIFY(duplicates->find(QStringLiteral("https://a.example/")).isEmpty());
        auto *first = new BookmarkItem(QStringLiteral("https://a.example/"), work);
        context->insert(first);
        auto *second = new BookmarkItem(QStringLiteral("https://b.example/"), read);
        context->insert(second);
        QCOMPARE(duplicates->find(QStringLiteral("a.example")), QList<BookmarkItem *> { first });
        second->setUrlString(QStringLiteral("https://A.example"));
        // In sidebar order of their groups: 阅读 comes first.
        QCOMPARE(duplicates->find(QStringLiteral("a.example")), (QList<BookmarkItem *> { second, first }));
        QCOMPARE(DuplicateLinks::notice(duplicates->find(QStringLiteral("a.example"))),
            QStringLiteral("已在「阅读」、「工作」中"));
        QVERIFY(duplicates->find(QStringLiteral("b.example")).isEmpty());
        context->remove(second);
        QCOMPARE(duplicates->find(QStringLiteral("a.example")), QList<BookmarkItem *> { first });
        context->remove(work);
        QVERIFY(duplicates->find(QStringLiteral("a.example")).isEmpty());
        QCOMPARE(DuplicateLinks::notice({}), QString());
    }
};

BRAMBLE_TEST_CORE_MAIN(SearchTest)
#include "tst_search.moc"
