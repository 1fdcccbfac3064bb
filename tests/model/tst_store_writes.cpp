// How saves reach the file: rows bound straight on SQLite, and the write-ahead log copied back
// by a worker rather than inside a commit on the main thread.
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "model/WalCheckpointer.h"
#include "support/StoreFixture.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class StoreWritesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static std::unique_ptr<ModelContainer> openOrFail(const QString &path) { return openStoreOrFail(path); }

private Q_SLOTS:
    void textsAndBlobsKeepWhatTheyWere()
    {
        const QString path = m_dir.filePath(QStringLiteral("texts.sqlite"));
        const QByteArray icon("\x89PNG\0\0\x01zero bytes inside", 24);
        {
            auto container = openOrFail(path);
            QVERIFY(container);
            ModelContext *context = container->mainContext();
            auto *group = new BookmarkGroup(QString());
            context->insert(group);
            const QList<std::optional<QString>> titles { std::nullopt, QStringLiteral(""), QString(),
                QStringLiteral("腾讯首页 — Café \U0001F600") };
            for (const std::optional<QString> &title : titles) {
                auto *item = new BookmarkItem(QStringLiteral("https://example.com/?q=a&b='c'"), group);
                item->setTitle(title);
                item->setSummary(title ? std::nullopt : std::optional<QString>(QStringLiteral("s")));
                item->setIconData(title ? std::nullopt : std::optional<QByteArray>(icon));
                context->insert(item);
            }
            QVERIFY(context->save());
            // An update of every field goes through its own statement.
            group->bookmarks().last()->setUrlString(QStringLiteral("https://example.org/更新"));
            group->setName(QStringLiteral("分组"));
            QVERIFY(context->save());
        }
        auto container = openOrFail(path);
        QVERIFY(container);
        const QList<BookmarkGroup *> groups = container->mainContext()->groups();
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups.first()->name(), QStringLiteral("分组"));
        QList<BookmarkItem *> items = groups.first()->bookmarks();
        std::sort(items.begin(), items.end(), [](auto *a, auto *b) { return a->id() < b->id(); });
        QCOMPARE(items.size(), 4);
        QVERIFY(!items[0]->title());
        QCOMPARE(items[0]->summary(), std::optional<QString>(QStringLiteral("s")));
        QCOMPARE(items[0]->iconData(), std::optional<QByteArray>(icon));
        // A null text is present and empty, not absent.
        QCOMPARE(items[1]->title(), std::optional<QString>(QStringLiteral("")));
        QCOMPARE(items[2]->title(), std::optional<QString>(QStringLiteral("")));
        QVERIFY(!items[2]->summary() && !items[2]->iconData());
        QCOMPARE(items[3]->title(), std::optional<QString>(QStringLiteral("腾讯首页 — Café \U0001F600")));
        QCOMPARE(items[3]->urlString(), QStringLiteral("https://example.org/更新"));
    }

    void aLockedStoreNamesSQLitesReason()
    {
        const QString path = m_dir.filePath(QStringLiteral("locked.sqlite"));
        auto container = openOrFail(path);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        {
            QSqlDatabase other
                = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
            auto *group = new BookmarkGroup(QStringLiteral("g"));
            context->insert(group);
            context->insert(new BookmarkItem(QStringLiteral("https://a.example/"), group));
            QString error;
            QVERIFY(!context->save(&error));
            QVERIFY2(error.contains(QLatin1String("locked")), qPrintable(error));
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        // Nothing of the failed save is lost: the next one writes it.
        QVERIFY(context->save());
        QVERIFY(!context->hasChanges());
    }

    void largeSavesAreCheckpointedByAWorker()
    {
        const QString path = m_dir.filePath(QStringLiteral("large.sqlite"));
        {
            auto container = openOrFail(path);
            QVERIFY(container);
            ModelContext *context = container->mainContext();
            auto *group = new BookmarkGroup(QStringLiteral("large"));
            context->insert(group);
            const QByteArray icon(2048, 'i');
            // About 30 MB of log in batches: several times its thresholds.
            for (int batch = 0; batch < 30; ++batch) {
                for (int i = 0; i < 200; ++i) {
                    auto *item = new BookmarkItem(
                        QStringLiteral("https://site.example/%1/%2").arg(batch).arg(i), group);
                    item->setTitle(QString(200, QLatin1Char('t')));
                    item->setIconData(icon);
                    context->insert(item);
                }
                QVERIFY(context->save());
                // As an import does: a turn of the event loop between two batches.
                QTest::qWait(20);
            }
            const WalCheckpointer *checkpointer = container->checkpointer();
            // Workers copy the log back while the saves go on; no commit had to.
            QVERIFY(checkpointer->workerCheckpoints() > 1);
            QCOMPARE(checkpointer->commitCheckpoints(), 0);
            const qint64 bound = qint64(WalCheckpointer::commitPages + 1000) * 4096;
            QVERIFY2(QFileInfo(path + QStringLiteral("-wal")).size() < bound,
                qPrintable(QString::number(QFileInfo(path + QStringLiteral("-wal")).size())));
        }
        auto container = openOrFail(path);
        QVERIFY(container);
        QCOMPARE(container->mainContext()->items().size(), 6000);
    }
};

QTEST_GUILESS_MAIN(StoreWritesTest)
#include "tst_store_writes.moc"
