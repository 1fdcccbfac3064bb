#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/GroupListModel.h"
#include "model/LinkAdder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/StoreFixture.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <future>
#include <thread>

class StoreTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath() { return m_dir.filePath(QStringLiteral("store-%1.sqlite").arg(++m_counter)); }

    static std::unique_ptr<ModelContainer> openOrFail(const QString &path) { return openStoreOrFail(path); }

    static QByteArray fileDigest(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }

    static void runEventLoopTurn()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private Q_SLOTS:
    void constructorsSetDefaults()
    {
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        BookmarkGroup group(QStringLiteral("Reading"));
        QVERIFY(group.bookmarks().isEmpty());
        QVERIFY(group.sortOrder() >= before && group.sortOrder() <= before + 1);
        QVERIFY(group.sortOrder() > 1'700'000'000);
        QCOMPARE(group.id(), 0);

        auto *item = new BookmarkItem(QStringLiteral("example.com"), &group);
        QVERIFY(!item->title() && !item->summary() && !item->iconData());
        QCOMPARE(item->group(), &group);
        QCOMPARE(group.bookmarks(), QList<BookmarkItem *> { item });
        QVERIFY(item->sortOrder() >= before);
        QVERIFY(qAbs(item->createdAt().toSecsSinceEpoch() - item->sortOrder()) <= 1);
    }

    void identityAndRelationships()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();

        auto *a = new BookmarkGroup(QStringLiteral("Same"));
        auto *b = new BookmarkGroup(QStringLiteral("Same"));
        a->setSortOrder(3);
        b->setSortOrder(3);
        context->insert(a);
        context->insert(b);
        QVERIFY(a->id() != b->id());
        QCOMPARE(context->group(a->id()), a);

        // Relating a link to a stored group stores the link too.
        auto *link = new BookmarkItem(QStringLiteral("https://one.example"), a);
        QCOMPARE(link->context(), context);
        QCOMPARE(context->item(link->id()), link);

        link->setGroup(b);
        QVERIFY(a->bookmarks().isEmpty());
        QCOMPARE(b->bookmarks(), QList<BookmarkItem *> { link });
        b->addBookmark(link);
        QCOMPARE(b->bookmarks().size(), 1);
        QVERIFY(context->save());

        // Reopening gives exactly one object per row, with the relationship intact.
        const QString path = container->path();
        container.reset();
        container = openOrFail(path);
        context = container->mainContext();
        QCOMPARE(context->groupCount(), 2);
        QCOMPARE(context->itemCount(), 1);
        BookmarkItem *reloaded = context->items().first();
        QCOMPARE(reloaded->group()->name(), QStringLiteral("Same"));
        QCOMPARE(reloaded->group()->bookmarks(), QList<BookmarkItem *> { reloaded });
        QCOMPARE(context->item(reloaded->id()), reloaded);
    }

    void deleteRules()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        auto *doomed = new BookmarkGroup(QStringLiteral("Doomed"));
        auto *kept = new BookmarkGroup(QStringLiteral("Kept"));
        context->insert(doomed);
        context->insert(kept);
        for (int i = 0; i < 3; ++i)
            new BookmarkItem(QStringLiteral("https://doomed.example/%1").arg(i), doomed);
        auto *stay1 = new BookmarkItem(QStringLiteral("https://kept.example/1"), kept);
        auto *gone = new BookmarkItem(QStringLiteral("https://kept.example/2"), kept);
        auto *stay2 = new BookmarkItem(QStringLiteral("https://kept.example/3"), kept);
        QVERIFY(context->save());

        const QList<BookmarkItem *> doomedLinks = doomed->bookmarks();
        QPointer<BookmarkItem> watched = doomedLinks.first();
        QSignalSpy itemRemoved(context, &ModelContext::itemRemoved);
        context->remove(doomed);
        QCOMPARE(itemRemoved.count(), 3);
        QVERIFY(watched && watched->isDeleted()); // still safe to look at in this turn
        context->remove(gone);
        QCOMPARE(kept->bookmarks(), (QList<BookmarkItem *> { stay1, stay2 }));
        runEventLoopTurn();
        QVERIFY(!watched); // a holder across an await sees it gone
        QVERIFY(!context->hasChanges()); // the automatic save ran

        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
        db.setDatabaseName(container->path());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT COUNT(*) FROM items")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 2);
        QVERIFY(query.exec(QStringLiteral("SELECT name FROM groups")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("Kept"));
        QVERIFY(!query.next());
        query = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    }

    void everythingSurvivesReopening()
    {
        const QString path = freshPath();
        const QByteArray icon = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(4096, 'x');
        QDateTime created;
        {
            auto container = openOrFail(path);
            QVERIFY(container);
            ModelContext *context = container->mainContext();
            auto *group = new BookmarkGroup(QStringLiteral("分组 ✓"));
            group->setSortOrder(-7);
            context->insert(group);
            auto *empty = new BookmarkItem(QStringLiteral("https://empty.example"), group);
            empty->setTitle(QString()); // a null string is still a present, empty title
            empty->setSummary(QString(""));
            empty->setSortOrder(42);
            auto *absent = new BookmarkItem(QStringLiteral("https://absent.example"), group);
            absent->setSortOrder(43);
            auto *full = new BookmarkItem(QStringLiteral("https://full.example"), group);
            full->setTitle(QStringLiteral("标题"));
            full->setSummary(QStringLiteral("A line"));
            full->setIconData(icon);
            full->setSortOrder(44);
            created = full->createdAt();
            // No explicit save: closing flushes what automatic saving had not written yet.
        }
        auto container = openOrFail(path);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        QCOMPARE(context->groupCount(), 1);
        BookmarkGroup *group = context->groups().first();
        QCOMPARE(group->name(), QStringLiteral("分组 ✓"));
        QCOMPARE(group->sortOrder(), -7);
        QMap<qint64, BookmarkItem *> bySort;
        for (BookmarkItem *item : group->bookmarks())
            bySort.insert(item->sortOrder(), item);
        QCOMPARE(bySort.size(), 3);
        QVERIFY(bySort[42]->title().has_value());
        QCOMPARE(*bySort[42]->title(), QString());
        QVERIFY(bySort[42]->summary().has_value());
        QVERIFY(!bySort[43]->title().has_value());
        QVERIFY(!bySort[43]->summary().has_value());
        QVERIFY(!bySort[43]->iconData().has_value());
        QCOMPARE(*bySort[44]->title(), QStringLiteral("标题"));
        QCOMPARE(bySort[44]->iconData(), std::optional<QByteArray>(icon));
        QCOMPARE(bySort[44]->createdAt(), created);

        // Taking the icon away again is stored too.
        bySort[44]->setIconData(std::nullopt);
        QVERIFY(context->save());
        container.reset();
        container = openOrFail(path);
        for (BookmarkItem *item : container->mainContext()->items())
            QVERIFY(!item->iconData());
    }

    void automaticSaveCoalescesAndWritesOnlyChanges()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        auto *group = new BookmarkGroup(QStringLiteral("A"));
        context->insert(group);
        QSignalSpy saved(context, &ModelContext::saved);
        group->setName(QStringLiteral("B"));
        group->setSortOrder(9);
        new BookmarkItem(QStringLiteral("https://x.example"), group);
        QVERIFY(context->hasChanges());
        QCOMPARE(saved.count(), 0);
        runEventLoopTurn();
        QCOMPARE(saved.count(), 1);
        QVERIFY(!context->hasChanges());

        // Writing the same value is not a change.
        group->setName(QStringLiteral("B"));
        QVERIFY(!context->hasChanges());
    }

    void failedSaveKeepsChangesPending()
    {
        const QString path = freshPath();
        auto container = openOrFail(path);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        context->setAutosaveEnabled(false);
        auto *group = new BookmarkGroup(QStringLiteral("Locked out"));
        context->insert(group);

        // Another connection holds the write lock, so our transaction cannot commit.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        other.setDatabaseName(path);
        other.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
        QString error;
        QVERIFY(!context->save(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(context->hasChanges());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));

        QVERIFY(context->save(&error));
        container.reset();
        container = openOrFail(path);
        QCOMPARE(container->mainContext()->groupCount(), 1);
    }

    void addressRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("stored");
        // Kept, with "https://" in front when there is no scheme.
        QTest::newRow("bare host") << "example.com"
                                   << ""
                                   << "https://example.com";
        QTest::newRow("host beginning with http") << "httpbin.org/get"
                                                  << ""
                                                  << "https://httpbin.org/get";
        QTest::newRow("host and port") << "localhost:8080/x"
                                       << ""
                                       << "https://localhost:8080/x";
        QTest::newRow("host and port only") << "example.com:443"
                                            << ""
                                            << "https://example.com:443";
        QTest::newRow("IPv6 literal") << "[::1]:8080/"
                                      << ""
                                      << "https://[::1]:8080/";
        QTest::newRow("leading space") << " example.com"
                                       << ""
                                       << "https:// example.com";
        QTest::newRow("capital scheme") << "HTTP://example.com"
                                        << "http"
                                        << "HTTP://example.com";
        QTest::newRow("https") << "https://example.com"
                               << "https"
                               << "https://example.com";
        // Refused: another scheme.
        QTest::newRow("ftp") << "ftp://host/x"
                             << "ftp"
                             << "";
        QTest::newRow("mailto") << "mailto:someone@example.com"
                                << "mailto"
                                << "";
        QTest::newRow("javascript") << "javascript:alert(1)"
                                    << "javascript"
                                    << "";
        QTest::newRow("file") << "file:///etc/passwd"
                              << "file"
                              << "";
        QTest::newRow("data") << "data:text/html,<b>x</b>"
                              << "data"
                              << "";
        QTest::newRow("custom, capitals") << "My-App+x.1:open"
                                          << "my-app+x.1"
                                          << "";
        QTest::newRow("colon but no port") << "localhost:abc"
                                           << "localhost"
                                           << "";
    }

    void addressRules()
    {
        QFETCH(QString, text);
        QFETCH(QString, scheme);
        QFETCH(QString, stored);
        QCOMPARE(LinkAdder::schemeOf(text), scheme);
        const bool refused = stored.isEmpty();
        QCOMPARE(LinkAdder::refusedScheme(text).has_value(), refused);

        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        const LinkAdder::Outcome added = LinkAdder::addToGroup(context, std::nullopt, text);
        if (refused) {
            QCOMPARE(added.failure, LinkAdder::Failure::RefusedScheme);
            QCOMPARE(added.scheme, scheme);
            QVERIFY(!added.link);
            QCOMPARE(context->groupCount(), 0);
            return;
        }
        QVERIFY(added.link);
        QCOMPARE(added.link->urlString(), stored);
        QCOMPARE(added.link->title(), std::optional<QString>(stored));
        QCOMPARE(added.link->summary(), std::optional<QString>(LinkAdder::placeholderSummary));
        // An empty store gets the default group, saved with the link.
        QCOMPARE(added.groupName, QStringLiteral("默认分组"));
        QCOMPARE(context->groups().first()->sortOrder(), 0);
        QVERIFY(!context->hasChanges());
    }

    void failedAddChangesNothing()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        QCOMPARE(LinkAdder::addToGroup(context, std::nullopt, QString()).failure,
            LinkAdder::Failure::EmptyAddress);
        const LinkAdder::Outcome unknown
            = LinkAdder::addToGroup(context, QStringLiteral("Nope"), QStringLiteral("https://a.example"));
        QCOMPARE(unknown.failure, LinkAdder::Failure::NoSuchGroup);
        QCOMPARE(unknown.groupName, QStringLiteral("Nope"));
        QCOMPARE(context->groupCount(), 0);
        QVERIFY(!context->hasChanges());

        // A named group is found by name, the first in sidebar order when names repeat.
        auto *later = new BookmarkGroup(QStringLiteral("Work"));
        later->setSortOrder(5);
        auto *first = new BookmarkGroup(QStringLiteral("Work"));
        first->setSortOrder(1);
        context->insert(later);
        context->insert(first);
        const LinkAdder::Outcome added
            = LinkAdder::addToGroup(context, QStringLiteral("Work"), QStringLiteral("https://a.example"));
        QVERIFY(added.link);
        QCOMPARE(added.link->group(), first);
        QVERIFY(LinkAdder::addToGroup(context, std::nullopt, QStringLiteral("b.example")).link);
        QCOMPARE(first->bookmarks().size(), 2);
        QCOMPARE(first->bookmarks().last()->sortOrder(), 1);
        QCOMPARE(context->groupCount(), 2);
    }

    void lockedStoreIsRetriedAndReported()
    {
        const QString path = freshPath();
        auto container = openOrFail(path);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        context->setRetryDelays(std::chrono::milliseconds(5), std::chrono::milliseconds(40));
        QSignalSpy problems(context, &ModelContext::saveProblemChanged);

        // Another program holds the write lock while the user works.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
        auto *group = new BookmarkGroup(QStringLiteral("typed while locked"));
        context->insert(group);
        QTRY_VERIFY_WITH_TIMEOUT(!context->saveProblem().isEmpty(), 5000);
        QVERIFY2(
            context->saveProblem().contains(QStringLiteral("locked")), qPrintable(context->saveProblem()));
        QCOMPARE(problems.count(), 1);
        QVERIFY(context->isRetryPending());
        // More changes wait for the retry rather than adding saves of their own.
        group->setName(QStringLiteral("renamed while locked"));
        QVERIFY(context->hasChanges());

        QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
        QTRY_VERIFY_WITH_TIMEOUT(!context->hasChanges(), 5000);
        QVERIFY(context->saveProblem().isEmpty());
        QCOMPARE(problems.count(), 2);
        QVERIFY(!context->isRetryPending());
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));

        container.reset();
        container = openOrFail(path);
        QCOMPARE(container->mainContext()->groups().first()->name(), QStringLiteral("renamed while locked"));
    }

    void lastSaveWaitsForTheLock()
    {
        const QString path = freshPath();
        auto container = openOrFail(path);
        QVERIFY(container);
        container->mainContext()->setAutosaveEnabled(false);
        container->mainContext()->insert(new BookmarkGroup(QStringLiteral("at quit")));

        // The other program lets go while the last save waits for it.
        std::promise<bool> locked;
        std::thread holder([path, &locked] {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("briefly"));
            db.setDatabaseName(path);
            locked.set_value(db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        });
        QVERIFY(locked.get_future().get());
        container.reset();
        holder.join();
        QSqlDatabase::removeDatabase(QStringLiteral("briefly"));
        container = openOrFail(path);
        QCOMPARE(container->mainContext()->groupCount(), 1);
    }

    void refusesForeignFilesWithoutTouchingThem_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("newerSchema");
        QTest::addColumn<QString>("messagePart");
        QTest::newRow("text") << QByteArray("not a database at all, just some text\n") << false
                              << QStringLiteral("not a Bramble store");
        QTest::newRow("random") << QByteArray(8192, '\x5a') << false << QStringLiteral("not a Bramble store");
        QTest::newRow("newer") << QByteArray() << true << QStringLiteral("newer version");
    }

    void refusesForeignFilesWithoutTouchingThem()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, newerSchema);
        QFETCH(QString, messagePart);
        const QString path = freshPath();
        if (newerSchema) {
            {
                auto container = openOrFail(path);
                QVERIFY(container);
            }
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bump"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(
                QStringLiteral("UPDATE metadata SET value = '2.0.0' WHERE key = 'schemaVersion'")));
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("bump"));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const QByteArray before = fileDigest(path);
        QString error;
        auto container = ModelContainer::open(path, &error);
        QVERIFY(!container);
        QVERIFY2(error.contains(messagePart), qPrintable(error));
        QCOMPARE(fileDigest(path), before);
    }

    void liveGroupQueryFollowsTheStore()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        GroupListModel model(context);
        auto make = [&](const char *name, qint64 order) {
            auto *g = new BookmarkGroup(QString::fromUtf8(name));
            g->setSortOrder(order);
            context->insert(g);
            return g;
        };
        BookmarkGroup *b = make("b", 5);
        BookmarkGroup *a = make("a", 1);
        BookmarkGroup *tie = make("tie", 5); // equal positions keep the store's order
        QCOMPARE(model.groups(), (QList<BookmarkGroup *> { a, b, tie }));

        QPersistentModelIndex persistent = model.index(0);
        a->setSortOrder(10);
        QCOMPARE(model.groups(), (QList<BookmarkGroup *> { b, tie, a }));
        QCOMPARE(persistent.row(), 2);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        b->setName(QStringLiteral("renamed"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("renamed"));

        context->remove(tie);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.rowOf(a), 1);
    }

    void liveLinkQueryFollowsItsGroup()
    {
        auto container = openOrFail(freshPath());
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        auto *group = new BookmarkGroup(QStringLiteral("g"));
        auto *other = new BookmarkGroup(QStringLiteral("other"));
        context->insert(group);
        context->insert(other);
        QList<BookmarkItem *> links;
        for (qint64 order : { 2, 0, 2, 1 }) {
            links << new BookmarkItem(QStringLiteral("https://l%1.example").arg(links.size()), group);
            links.last()->setSortOrder(order);
        }
        BookmarkListModel model(group);
        // Equal positions keep the store's order.
        QCOMPARE(model.items(), (QList<BookmarkItem *> { links[1], links[3], links[0], links[2] }));
        QCOMPARE(BookmarkListModel::ordered(group), model.items());

        // Renumbering many links re-sorts once, on the next turn.
        QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
        for (int i = 0; i < links.size(); ++i)
            links[i]->setSortOrder(10 - i);
        QCOMPARE(layouts.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(layouts.count(), 1);
        QCOMPARE(model.items(), (QList<BookmarkItem *> { links[3], links[2], links[1], links[0] }));

        auto *added = new BookmarkItem(QStringLiteral("https://new.example"), group);
        added->setSortOrder(100);
        QCoreApplication::processEvents();
        QCOMPARE(model.items().last(), added);
        QCOMPARE(model.rowOf(added), 4);

        links[0]->setGroup(other); // moved away
        context->remove(links[1]);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.rowOf(links[0]), -1);

        links[2]->setTitle(QStringLiteral("T"));
        QCOMPARE(model.data(model.index(model.rowOf(links[2])), BookmarkListModel::TitleRole).toString(),
            QStringLiteral("T"));
        context->remove(group);
        QCOMPARE(model.rowCount(), 0);
    }
};

BRAMBLE_TEST_CORE_MAIN(StoreTest)
#include "tst_store.moc"
