#include "app/BrambleApp.h"
#include "app/MainWindow.h"
#include "exchange/DataExchange.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/DataSeeder.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "support/ContextMenus.h"
#include "support/TestEnvironment.h"
#include "support/TestGate.h"
#include "support/TestHttpServer.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowList.h"
#include "ui/ContentView.h"
#include "ui/RefreshStatusView.h"

#include <QLabel>
#include <QListView>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <httplib.h>
#include <memory>
#include <mutex>

using RefreshMode = ModelContext::RefreshMode;

namespace {

// Pages "/page?id=N" titled "<title> N", whose title and description the test changes while
// the server runs. With a gate, each page waits for it before it answers.
class Site
{
public:
    explicit Site(TestGate *gate = nullptr)
    {
        // The fetcher keeps its connections open; stopping waits for them to time out.
        m_http.server().set_keep_alive_timeout(1);
        m_http.server().Get(
            "/page", [this, gate](const httplib::Request &request, httplib::Response &response) {
                if (gate)
                    gate->pass();
                const std::string id = request.get_param_value("id");
                std::lock_guard lock(m_mutex);
                response.set_content("<html><head><title>" + m_title + " " + id
                        + "</title><meta name=\"description\" content=\"" + m_summary + " " + id
                        + "\"></head><body></body></html>",
                    "text/html");
            });
    }

    bool start() { return m_http.start(); }

    void setPages(const std::string &title, const std::string &summary)
    {
        std::lock_guard lock(m_mutex);
        m_title = title;
        m_summary = summary;
    }

    QString url(int id) const { return m_http.url(QStringLiteral("/page?id=%1").arg(id)); }

private:
    std::mutex m_mutex;
    std::string m_title = "Page";
    std::string m_summary = "About";
    // Last, so that it stops before what its handlers use goes.
    TestHttpServer m_http;
};

} // namespace

// "刷新信息" in the window: the links go back on the stored queue, the window works it, and
// the progress line shows and stops that work.
class RefreshViewTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<BrambleApp> m_app;
    // What the queue held each time it changed: "address mode".
    QList<QStringList> m_queueStates;

    QString storePath() const { return m_dir->filePath(QStringLiteral("store.sqlite")); }
    ModelContext *context() const { return m_app->sharedModelContainer()->mainContext(); }
    MainWindow *window() const { return m_app->mainWindow(); }
    ContentView *content() const { return window()->contentView(); }
    BookmarkListView *pane() const { return qobject_cast<BookmarkListView *>(content()->currentDetail()); }
    RefreshStatusView *line() const { return window()->findChild<RefreshStatusView *>(); }

    static QStringList describe(const QList<BookmarkItem *> &items, ModelContext *context)
    {
        QStringList lines;
        for (const BookmarkItem *item : items)
            lines << QStringLiteral("%1 %2").arg(item->urlString()).arg(int(context->refreshMode(item)));
        return lines;
    }

    // The largest state the queue reached since the test began.
    QStringList fullestQueue() const
    {
        QStringList fullest;
        for (const QStringList &state : m_queueStates) {
            if (state.size() > fullest.size())
                fullest = state;
        }
        return fullest;
    }

    BookmarkGroup *addGroup(ModelContext *context, const QString &name, qint64 sortOrder)
    {
        auto *group = new BookmarkGroup(name);
        group->setSortOrder(sortOrder);
        context->insert(group);
        return group;
    }

    // A link as a finished fetch left it long ago, created in the order of the calls.
    BookmarkItem *addLink(BookmarkGroup *group, const QString &url, int order)
    {
        auto *link = new BookmarkItem(url, group);
        link->setTitle(QStringLiteral("Mine"));
        link->setSummary(QStringLiteral("My note"));
        link->setSortOrder(order);
        link->setCreatedAt(QDateTime(QDate(2024, 1, 1), QTime(8, 0)).addSecs(order));
        return link;
    }

    // The window over the store as the program builds it, showing group.
    void showWindow(std::unique_ptr<ModelContainer> container, BookmarkGroup *group)
    {
        m_app = std::make_unique<BrambleApp>(std::move(container));
        connect(context(), &ModelContext::refreshQueueChanged, this,
            [this] { m_queueStates << describe(context()->waitingItems(), context()); });
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        content()->setSelectedGroup(group);
        QVERIFY(pane());
    }

    std::unique_ptr<ModelContainer> openStore()
    {
        QString error;
        auto container = ModelContainer::open(storePath(), &error);
        if (!container)
            qWarning("%s", qPrintable(error));
        return container;
    }

    void chooseFromGroupMenu(BookmarkGroup *group, const QString &text)
    {
        QListView *sidebar = content()->sidebarList();
        const QModelIndex index = sidebar->model()->index(content()->groups()->rowOf(group), 0);
        QVERIFY(ContextMenus::choose(ContextMenus::openAt(sidebar, index), text));
    }

    void chooseFromLinkMenu(BookmarkItem *link, const QString &text)
    {
        BookmarkListModel *model = pane()->model();
        model->sortNow();
        const QModelIndex index = model->index(model->rowOf(link));
        QVERIFY(ContextMenus::choose(ContextMenus::openAt(pane()->listView(), index), text));
    }

private Q_SLOTS:
    void initTestCase()
    {
        DataSeeder::setFetchFunction(
            [](const QString &) -> QCoro::Task<LinkMetadata> { co_return LinkMetadata {}; });
        AppSignals::setSender([](const QString &, const AppSignals::Parameters &) {});
        MetadataFetcher::Options options;
        options.raceTimeout = std::chrono::milliseconds(15000);
        options.providerTimeout = std::chrono::milliseconds(15000);
        options.iconProbeTimeout = std::chrono::milliseconds(1000);
        options.pageTimeout = std::chrono::milliseconds(15000);
        MetadataFetcher::setOptions(options);
    }

    void cleanupTestCase()
    {
        MetadataFetcher::setOptions({});
        AppSignals::setSender({});
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_queueStates.clear();
    }

    void cleanup()
    {
        m_app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_dir.reset();
    }

    void linkRefreshTakesThePageAsItIsNow()
    {
        Site site;
        site.setPages("Old", "Old summary");
        QVERIFY(site.start());
        auto container = openStore();
        QVERIFY(container);
        BookmarkGroup *group = addGroup(container->mainContext(), QStringLiteral("工作"), 0);
        showWindow(std::move(container), group);

        // Added through the list, so its first fetch is the one the process remembers.
        pane()->setNewUrlString(site.url(1));
        const QPointer<BookmarkItem> link = pane()->addBookmark();
        QVERIFY(link);
        QTRY_COMPARE_WITH_TIMEOUT(link->title(), std::optional<QString>(QStringLiteral("Old 1")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(
            link->summary(), std::optional<QString>(QStringLiteral("Old summary 1")), 20000);

        // The page changed since; the user asks for it again.
        site.setPages("New", "New summary");
        m_queueStates.clear();
        chooseFromLinkMenu(link, QStringLiteral("刷新信息"));
        // An explicit request: whatever arrives replaces what the link shows.
        QCOMPARE(fullestQueue(),
            QStringList { QStringLiteral("%1 %2").arg(site.url(1)).arg(int(RefreshMode::Overwrite)) });
        QTRY_COMPARE_WITH_TIMEOUT(link->title(), std::optional<QString>(QStringLiteral("New 1")), 20000);
        QCOMPARE(link->summary(), std::optional<QString>(QStringLiteral("New summary 1")));
        QTRY_COMPARE(context()->refreshQueueSize(), 0);
    }

    void groupRefreshQueuesThatGroupOnly()
    {
        Site site;
        site.setPages("Fresh", "Fresh summary");
        QVERIFY(site.start());
        auto container = openStore();
        QVERIFY(container);
        BookmarkGroup *chosen = addGroup(container->mainContext(), QStringLiteral("选中"), 0);
        BookmarkGroup *other = addGroup(container->mainContext(), QStringLiteral("其他"), 1);
        BookmarkItem *a1 = addLink(chosen, site.url(1), 1);
        BookmarkItem *b1 = addLink(other, site.url(2), 2);
        BookmarkItem *a2 = addLink(chosen, site.url(3), 3);
        BookmarkItem *b2 = addLink(other, site.url(4), 4);
        // The other group is the one shown: the menu acts on the row clicked.
        showWindow(std::move(container), other);

        chooseFromGroupMenu(chosen, QStringLiteral("刷新信息"));
        const QString overwrite = QString::number(int(RefreshMode::Overwrite));
        QCOMPARE(fullestQueue(),
            (QStringList {
                site.url(1) + QLatin1Char(' ') + overwrite, site.url(3) + QLatin1Char(' ') + overwrite }));
        QTRY_COMPARE_WITH_TIMEOUT(a1->title(), std::optional<QString>(QStringLiteral("Fresh 1")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(a2->title(), std::optional<QString>(QStringLiteral("Fresh 3")), 20000);
        QCOMPARE(a1->summary(), std::optional<QString>(QStringLiteral("Fresh summary 1")));
        QTRY_COMPARE(context()->refreshQueueSize(), 0);
        for (const BookmarkItem *untouched : { b1, b2 }) {
            QCOMPARE(untouched->title(), std::optional<QString>(QStringLiteral("Mine")));
            QCOMPARE(untouched->summary(), std::optional<QString>(QStringLiteral("My note")));
        }
    }

    void stopEndsTheWorkAndKeepsTheRestQueued()
    {
        TestGate gate;
        Site site(&gate);
        site.setPages("Slow", "Slow summary");
        QVERIFY(site.start());
        // Opened whatever happens, so that no page waits out its patience at the end.
        const auto release = qScopeGuard([&gate] { gate.open(); });
        auto container = openStore();
        QVERIFY(container);
        BookmarkGroup *group = addGroup(container->mainContext(), QStringLiteral("慢"), 0);
        constexpr int linkCount = 6;
        for (int id = 1; id <= linkCount; ++id)
            addLink(group, site.url(id), id);
        showWindow(std::move(container), group);
        QVERIFY(line());
        QVERIFY(!line()->isVisible());

        chooseFromGroupMenu(group, QStringLiteral("刷新信息"));
        // Three fetches at once, held by the server; the other three wait their turn.
        QTRY_COMPARE_WITH_TIMEOUT(gate.waiting(), 3, 20000);
        QTRY_VERIFY(line()->isVisible());
        QTRY_COMPARE(line()->label()->text(), RefreshStatusView::text(linkCount));
        QCOMPARE(line()->label()->text(), QStringLiteral("正在更新 6 个链接的信息…"));
        QVERIFY(line()->stopButton()->isVisible());

        QSignalSpy finished(m_app->dataExchange(), &DataExchange::metadataRefreshFinished);
        QTest::mouseClick(line()->stopButton(), Qt::LeftButton);
        // The line goes at once; the fetches under way still end and are written.
        QVERIFY(!line()->isVisible());
        gate.open();
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first().first().toInt(), 3);
        QCOMPARE(line()->label()->text(), RefreshStatusView::text(3));
        QVERIFY(!line()->isVisible());
        QCOMPARE(m_app->dataExchange()->remainingRefreshCount(), 3);
        QVERIFY(!m_app->dataExchange()->isRefreshingMetadata());

        QStringList titles;
        for (const BookmarkItem *link : BookmarkListModel::ordered(group))
            titles << link->title().value_or(QString());
        QCOMPARE(titles,
            (QStringList { QStringLiteral("Slow 1"), QStringLiteral("Slow 2"), QStringLiteral("Slow 3"),
                QStringLiteral("Mine"), QStringLiteral("Mine"), QStringLiteral("Mine") }));

        // The rest wait in the store, for the next one who holds it.
        const QString overwrite = QString::number(int(RefreshMode::Overwrite));
        const QStringList rest { site.url(4) + QLatin1Char(' ') + overwrite,
            site.url(5) + QLatin1Char(' ') + overwrite, site.url(6) + QLatin1Char(' ') + overwrite };
        QCOMPARE(describe(context()->waitingItems(), context()), rest);
        m_app.reset();
        auto reopened = openStore();
        QVERIFY(reopened);
        QCOMPARE(describe(reopened->mainContext()->waitingItems(), reopened->mainContext()), rest);
    }
};

BRAMBLE_TEST_MAIN(RefreshViewTest)
#include "tst_refresh_view.moc"
