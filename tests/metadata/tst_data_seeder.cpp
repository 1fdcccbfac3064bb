#include "TestSite.h"
#include "metadata/HttpGet.h"
#include "metadata/MetadataCache.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DataSeeder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <condition_variable>

using namespace std::chrono_literals;

namespace {
QList<BookmarkItem *> linksInOrder(BookmarkGroup *group)
{
    QList<BookmarkItem *> links = group->bookmarks();
    std::sort(links.begin(), links.end(), [](auto *a, auto *b) { return a->sortOrder() < b->sortOrder(); });
    return links;
}

const QString seededLine = QStringLiteral("Default data seeded: Group '默认分组' with 2 links.");
} // namespace

class DataSeederTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MetadataNetwork::setFactory([] {
            static QPointer<QNetworkAccessManager> manager;
            if (!manager) {
                manager = new QNetworkAccessManager(qApp);
                manager->setProxy(QNetworkProxy::NoProxy);
            }
            return manager.data();
        });
        m_site.server().Get("/first", [this](const httplib::Request &, httplib::Response &res) {
            std::unique_lock lock(m_gateMutex);
            m_firstArrived = true;
            m_gateCv.wait_for(lock, 10s, [this] { return m_gateOpen; });
            res.set_content("<head><meta property=\"og:title\" content=\"First site\">"
                            "<meta name=\"description\" content=\"The first example\">"
                            "<link rel=\"icon\" href=\"/icon.png\"></head>",
                "text/html");
        });
        // No title: the link keeps its address as title.
        m_site.serve("/second", "<head><meta name=\"description\" content=\"The second example\"></head>");
        m_site.serve("/icon.png", m_icon, "image/png");
        QVERIFY(m_site.start());
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        MetadataCache::shared().clear();
        DataSeeder::setFetchFunction(nullptr);
        // A fresh query string per test keeps the cache out of the way.
        ++m_round;
        DataSeeder::setDefaultAddresses({ m_site.url(QStringLiteral("/first?r=%1").arg(m_round)),
            m_site.url(QStringLiteral("/second?r=%1").arg(m_round)) });
        openGate(true);
    }

    void cleanup()
    {
        openGate(true);
        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        m_container.reset();
        DataSeeder::setDefaultAddresses({});
        DataSeeder::setFetchFunction(nullptr);
    }

    void builtInAddresses()
    {
        DataSeeder::setDefaultAddresses({});
        const QStringList addresses = DataSeeder::defaultAddresses();
        QCOMPARE(addresses.size(), 2);
        QCOMPARE(addresses[0].size(), 24);
        QCOMPARE(addresses[1].size(), 22);
        for (const QString &address : addresses)
            QVERIFY(address.startsWith(QLatin1String("https://")));
    }

    void emptyStoreIsSeededOnce()
    {
        ModelContext *context = m_container->mainContext();
        const QStringList addresses = DataSeeder::defaultAddresses();
        {
            StdoutCapture output;
            DataSeeder::seedDefaultDataIfNeeded(context);
            QCOMPARE(output.lines(), QStringList { seededLine });
        }
        QCOMPARE(context->groupCount(), 1);
        BookmarkGroup *group = context->groups().first();
        QCOMPARE(group->name(), QStringLiteral("默认分组"));
        QCOMPARE(group->sortOrder(), 0);
        QList<BookmarkItem *> links = linksInOrder(group);
        QCOMPARE(links.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(links[i]->urlString(), addresses[i]);
            QCOMPARE(links[i]->sortOrder(), i);
            // Until the fetch ends the address stands in for the title.
            QCOMPARE(links[i]->title(), addresses[i]);
            QCOMPARE(links[i]->summary(), QStringLiteral("正在获取信息..."));
            QVERIFY(!links[i]->iconData().has_value());
        }
        QVERIFY(!context->hasChanges()); // saved at once

        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        QCOMPARE(links[0]->title(), QStringLiteral("First site"));
        QCOMPARE(links[0]->summary(), QStringLiteral("The first example"));
        QCOMPARE(links[0]->iconData(), m_icon);
        QCOMPARE(links[1]->title(), addresses[1]);
        QCOMPARE(links[1]->summary(), QStringLiteral("The second example"));
        // The automatic save stores what the fetch wrote.
        QTRY_VERIFY(!context->hasChanges());

        StdoutCapture again;
        DataSeeder::seedDefaultDataIfNeeded(context);
        QCOMPARE(again.lines(), QStringList {});
        QCOMPARE(context->groupCount(), 1);
        QCOMPARE(context->itemCount(), 2);
    }

    void storeWithAnyGroupIsUntouched()
    {
        ModelContext *context = m_container->mainContext();
        context->insert(new BookmarkGroup(QStringLiteral("Mine")));
        QVERIFY(context->save());
        const int requests = int(m_site.requests().size());
        StdoutCapture output;
        DataSeeder::seedDefaultDataIfNeeded(context);
        QCOMPARE(output.lines(), QStringList {});
        QCOMPARE(context->groupCount(), 1);
        QCOMPARE(context->itemCount(), 0);
        QCOMPARE(DataSeeder::runningMetadataTasks(), 0);
        QCOMPARE(int(m_site.requests().size()), requests);
    }

    void deletingEveryGroupSeedsAgain()
    {
        ModelContext *context = m_container->mainContext();
        DataSeeder::seedDefaultDataIfNeeded(context);
        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        context->remove(context->groups().first());
        QVERIFY(context->save());
        QCOMPARE(context->itemCount(), 0);

        StdoutCapture output;
        DataSeeder::seedDefaultDataIfNeeded(context);
        QCOMPARE(output.lines(), QStringList { seededLine });
        QCOMPARE(context->groupCount(), 1);
        QCOMPARE(context->groups().first()->name(), QStringLiteral("默认分组"));
        QCOMPARE(context->itemCount(), 2);
    }

    void linkDeletedWhileItsFetchWaitsIsSkipped()
    {
        ModelContext *context = m_container->mainContext();
        openGate(false);
        DataSeeder::seedDefaultDataIfNeeded(context);
        QList<BookmarkItem *> links = linksInOrder(context->groups().first());
        QPointer<BookmarkItem> first = links[0];
        BookmarkItem *second = links[1];
        QTRY_VERIFY(firstArrived());

        context->remove(first.data());
        QTRY_VERIFY(first.isNull()); // the object itself is gone
        openGate(true);
        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        QCOMPARE(context->itemCount(), 1);
        QCOMPARE(second->summary(), QStringLiteral("The second example"));
        QTRY_VERIFY(!context->hasChanges());
    }

    void linkDeletedAsItsFetchEndsIsSkipped()
    {
        // Deleted in the very turn the result arrives: the object still exists, marked deleted.
        ModelContext *context = m_container->mainContext();
        auto writes = std::make_shared<int>(0);
        const QString firstAddress = DataSeeder::defaultAddresses().first();
        DataSeeder::setFetchFunction(
            [context, firstAddress](const QString &url) -> QCoro::Task<LinkMetadata> {
                return deleteThenAnswer(context, url, firstAddress);
            });
        DataSeeder::seedDefaultDataIfNeeded(context);
        QList<BookmarkItem *> links = linksInOrder(context->groups().first());
        BookmarkItem *first = links[0];
        for (auto signal :
            { &BookmarkItem::titleChanged, &BookmarkItem::summaryChanged, &BookmarkItem::iconDataChanged })
            connect(first, signal, this, [writes] { ++*writes; });
        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        QCOMPARE(*writes, 0);
        QCOMPARE(links[1]->summary(), QStringLiteral("The second example"));
        QCOMPARE(context->itemCount(), 1);
    }

    void saveFailureStopsSeeding()
    {
        ModelContext *context = m_container->mainContext();
        const QStringList connections = QSqlDatabase::connectionNames();
        QCOMPARE(connections.size(), 1);
        QSqlDatabase::database(connections.first(), false).close();
        const int requests = int(m_site.requests().size());

        StdoutCapture output;
        DataSeeder::seedDefaultDataIfNeeded(context);
        const QStringList lines = output.lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QLatin1String("Failed to seed default data: ")),
            qPrintable(lines.first()));
        QVERIFY(lines.first().size() > QStringLiteral("Failed to seed default data: ").size());
        // No metadata step after a failed save; the objects stay in the context.
        QCOMPARE(DataSeeder::runningMetadataTasks(), 0);
        QTest::qWait(50);
        QCOMPARE(int(m_site.requests().size()), requests);
        QCOMPARE(context->groupCount(), 1);
        context->setAutosaveEnabled(false);
    }

private:
    static QCoro::Task<LinkMetadata> deleteThenAnswer(ModelContext *context, QString url, QString victim)
    {
        LinkMetadata metadata = co_await MetadataFetcher::fetchMetadata(url);
        if (url == victim) {
            for (BookmarkItem *item : context->items()) {
                if (item->urlString() == victim)
                    context->remove(item);
            }
        }
        co_return metadata;
    }

    void openGate(bool open)
    {
        std::lock_guard lock(m_gateMutex);
        m_gateOpen = open;
        if (!open)
            m_firstArrived = false;
        m_gateCv.notify_all();
    }
    bool firstArrived()
    {
        std::lock_guard lock(m_gateMutex);
        return m_firstArrived;
    }

    const QByteArray m_icon = imageBytes();
    TestSite m_site;
    std::mutex m_gateMutex;
    std::condition_variable m_gateCv;
    bool m_gateOpen = true;
    bool m_firstArrived = false;
    int m_round = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
};

BRAMBLE_TEST_GUI_MAIN(DataSeederTest)
#include "tst_data_seeder.moc"
