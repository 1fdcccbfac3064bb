#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "model/SchemaUpgrade.h"
#include "search/LinkSearch.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A connection of the test's own, closed and removed when it goes.
class Connection
{
public:
    explicit Connection(const QString &path)
        : m_name(QStringLiteral("upgrade-test-%1").arg(++s_counter))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Connection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    // Every row of the query, each as its columns joined: enough to compare contents.
    QStringList rows(const QString &sql) const
    {
        QSqlQuery query(db());
        if (!query.exec(sql))
            return { QStringLiteral("error: ") + sql };
        QStringList rows;
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i)
                columns << (query.value(i).isNull() ? QStringLiteral("<null>") : query.value(i).toString());
            rows << columns.join(QLatin1Char('|'));
        }
        return rows;
    }

private:
    static inline int s_counter = 0;
    QString m_name;
};

QString fixture(const QString &version = QStringLiteral("1.0.0"))
{
    return QStringLiteral(BRAMBLE_FIXTURES_DIR "/store-%1.sqlite").arg(version);
}

const QString groupRows = QStringLiteral("SELECT id, name, createdAt, sortOrder FROM groups ORDER BY id");
const QString itemRows = QStringLiteral(
    "SELECT id, urlString, title, summary, sortOrder, createdAt, groupId FROM items ORDER BY id");
const QString iconRows = QStringLiteral("SELECT itemId, hex(data) FROM icons ORDER BY itemId");

bool backupIsOldStore = false;
bool checkBackupDuringUpgrade(QSqlDatabase &db, QString *)
{
    const QString backup = SchemaUpgrade::backupPath(db.databaseName(), QStringLiteral("1.0.0"));
    if (!QFile::exists(backup))
        return true;
    Connection copy(backup);
    backupIsOldStore = copy.rows(QStringLiteral("SELECT value FROM metadata WHERE key = 'schemaVersion'"))
            == QStringList { QStringLiteral("1.0.0") }
        && copy.rows(itemRows).size() == 4;
    return true;
}

bool failingStep(QSqlDatabase &db, QString *error)
{
    // Changes something first, to show that the rollback takes it back.
    QSqlQuery(db).exec(QStringLiteral("UPDATE items SET title = 'changed'"));
    *error = QStringLiteral("disk on fire");
    return false;
}

} // namespace

class SchemaUpgradeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString copyOfFixture(const QString &version = QStringLiteral("1.0.0"))
    {
        const QString path = m_dir.filePath(QStringLiteral("old-%1.sqlite").arg(++m_counter));
        if (!QFile::copy(fixture(version), path))
            return {};
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

private Q_SLOTS:
    void upgradeFromTheFirstSchemaKeepsEveryGroupLinkAndField()
    {
        const QString path = copyOfFixture();
        QVERIFY(!path.isEmpty());
        QStringList groups, items, icons;
        {
            Connection old(path);
            groups = old.rows(groupRows);
            items = old.rows(itemRows);
            icons = old.rows(iconRows);
        }
        QCOMPARE(groups.size(), 2);
        QCOMPARE(items.size(), 4);
        QCOMPARE(icons.size(), 1);

        QString error;
        {
            auto container = ModelContainer::open(path, &error);
            QVERIFY2(container, qPrintable(error));
            ModelContext *context = container->mainContext();
            QCOMPARE(context->groupCount(), 2);
            QCOMPARE(context->itemCount(), 4);
            BookmarkItem *kept = context->item(1);
            QVERIFY(kept);
            QCOMPARE(kept->title(), std::optional<QString>(QStringLiteral("My own title")));
            QCOMPARE(kept->summary(), std::optional<QString>(QStringLiteral("My own summary")));
            QCOMPARE(kept->group()->name(), QStringLiteral("阅读"));
            QVERIFY(context->item(4)->iconData());
            QCOMPARE(context->item(4)->iconData()->size(), 73);
        }
        QVERIFY(!QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("1.0.0"))));

        Connection upgraded(path);
        QCOMPARE(upgraded.rows(QStringLiteral("SELECT value FROM metadata WHERE key = 'schemaVersion'")),
            QStringList { ModelContainer::schemaVersion() });
        QCOMPARE(upgraded.rows(groupRows), groups);
        QCOMPARE(upgraded.rows(itemRows), items);
        QCOMPARE(upgraded.rows(iconRows), icons);
        // The link the old version left with the placeholder waits to be filled in.
        QCOMPARE(upgraded.rows(QStringLiteral("SELECT itemId, mode FROM refresh_queue ORDER BY itemId")),
            QStringList { QStringLiteral("3|1") });
    }

    void newStoreHasTheSchemaOfAnUpgradedOne()
    {
        const QString oldPath = copyOfFixture();
        const QString newPath = m_dir.filePath(QStringLiteral("new.sqlite"));
        QString error;
        QVERIFY2(ModelContainer::open(oldPath, &error), qPrintable(error));
        QVERIFY2(ModelContainer::open(newPath, &error), qPrintable(error));
        const QString schema = QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY name");
        Connection upgraded(oldPath);
        Connection fresh(newPath);
        QCOMPARE(fresh.rows(schema), upgraded.rows(schema));
    }

    void backupExistsWhileTheStepsRunAndGoesAfter()
    {
        const QString path = copyOfFixture();
        backupIsOldStore = false;
        QList<SchemaUpgrade::Step> steps = SchemaUpgrade::steps();
        steps.append({ steps.last().to, "99.0.0", &checkBackupDuringUpgrade });
        {
            Connection store(path);
            QSqlDatabase db = store.db();
            QString error;
            QVERIFY2(
                SchemaUpgrade::upgrade(db, path, QStringLiteral("1.0.0"), &error, steps), qPrintable(error));
            QCOMPARE(SchemaUpgrade::recordedVersion(db), QStringLiteral("99.0.0"));
        }
        QVERIFY(backupIsOldStore);
        QVERIFY(!QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("1.0.0"))));
    }

    void failingStepLeavesTheOldStoreIntactAndUsable()
    {
        const QString path = copyOfFixture();
        QStringList items;
        {
            Connection old(path);
            items = old.rows(itemRows);
        }
        QList<SchemaUpgrade::Step> steps = SchemaUpgrade::steps();
        steps.append({ steps.last().to, "99.0.0", &failingStep });
        {
            Connection store(path);
            QSqlDatabase db = store.db();
            QString error;
            QVERIFY(!SchemaUpgrade::upgrade(db, path, QStringLiteral("1.0.0"), &error, steps));
            QVERIFY2(error.contains(QStringLiteral("disk on fire")), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("unchanged")), qPrintable(error));
            // Nothing of the steps before the failing one stays either.
            QCOMPARE(SchemaUpgrade::recordedVersion(db), QStringLiteral("1.0.0"));
            QCOMPARE(store.rows(itemRows), items);
            QCOMPARE(
                store.rows(QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'refresh_queue'")),
                QStringList());
        }
        // The copy stays beside it, and the store opens and upgrades normally afterwards.
        QVERIFY(QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("1.0.0"))));
        QString error;
        auto container = ModelContainer::open(path, &error);
        QVERIFY2(container, qPrintable(error));
        QCOMPARE(container->mainContext()->itemCount(), 4);
        QVERIFY(!QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("1.0.0"))));
    }

    void newerSchemaIsRefusedUntouched()
    {
        const QString path = copyOfFixture();
        {
            Connection store(path);
            QVERIFY(QSqlQuery(store.db())
                        .exec(QStringLiteral(
                            "UPDATE metadata SET value = '99.0.0' WHERE key = 'schemaVersion'")));
        }
        const QByteArray before = fileDigest(path);
        QString error;
        QVERIFY(!ModelContainer::open(path, &error));
        QVERIFY2(error.contains(QStringLiteral("newer version")), qPrintable(error));
        QCOMPARE(fileDigest(path), before);
        QVERIFY(!QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("99.0.0"))));
    }

    void unknownStartingVersionIsRefused()
    {
        const QString path = copyOfFixture();
        {
            Connection store(path);
            QVERIFY(
                QSqlQuery(store.db())
                    .exec(QStringLiteral("UPDATE metadata SET value = '0.9.0' WHERE key = 'schemaVersion'")));
        }
        QString error;
        QVERIFY(!ModelContainer::open(path, &error));
        QVERIFY2(error.contains(QStringLiteral("0.9.0")), qPrintable(error));
        Connection store(path);
        QSqlDatabase db = store.db();
        QCOMPARE(SchemaUpgrade::recordedVersion(db), QStringLiteral("0.9.0"));
    }
    void olderStoresGainTheSearchIndex_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("links");
        QTest::addColumn<QString>("query");
        QTest::addColumn<qint64>("found");
        QTest::newRow("1.0.0") << QStringLiteral("1.0.0") << 4 << QStringLiteral("my own") << qint64(1);
        QTest::newRow("1.0.0, address")
            << QStringLiteral("1.0.0") << 4 << QStringLiteral("127.0.0.1:1/bare") << qint64(2);
        QTest::newRow("1.1.0") << QStringLiteral("1.1.0") << 4 << QStringLiteral("首页") << qint64(1);
        QTest::newRow("1.1.0, accent")
            << QStringLiteral("1.1.0") << 4 << QStringLiteral("cafe paris") << qint64(2);
        QTest::newRow("1.1.0, added")
            << QStringLiteral("1.1.0") << 4 << QStringLiteral("olmuhle") << qint64(4);
    }

    void olderStoresGainTheSearchIndex()
    {
        QFETCH(QString, version);
        QFETCH(int, links);
        QFETCH(QString, query);
        QFETCH(qint64, found);
        const QString path = copyOfFixture(version);
        QVERIFY(!path.isEmpty());
        QStringList items, queue;
        {
            Connection old(path);
            QSqlDatabase db = old.db();
            QCOMPARE(SchemaUpgrade::recordedVersion(db), version);
            items = old.rows(itemRows);
            QCOMPARE(old.rows(QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'search_text'")),
                QStringList());
            if (version != QLatin1String("1.0.0"))
                queue = old.rows(QStringLiteral("SELECT itemId, mode FROM refresh_queue ORDER BY itemId"));
        }
        QCOMPARE(items.size(), links);
        QString error;
        {
            auto container = ModelContainer::open(path, &error);
            QVERIFY2(container, qPrintable(error));
            QSqlDatabase db = container->database();
            const auto hits = LinkSearch::find(db, { query, {}, 0 }, &error);
            QVERIFY2(hits, qPrintable(error));
            QCOMPARE(hits->size(), 1);
            QCOMPARE(hits->first().itemId, found);
        }
        QVERIFY(!QFile::exists(SchemaUpgrade::backupPath(path, version)));
        Connection upgraded(path);
        QSqlDatabase db = upgraded.db();
        QCOMPARE(SchemaUpgrade::recordedVersion(db), ModelContainer::schemaVersion());
        QCOMPARE(upgraded.rows(itemRows), items);
        if (!queue.isEmpty())
            QCOMPARE(upgraded.rows(QStringLiteral("SELECT itemId, mode FROM refresh_queue ORDER BY itemId")),
                queue);
        // One row of folded text for every link.
        QCOMPARE(upgraded.rows(QStringLiteral("SELECT COUNT(*) FROM search_text")),
            QStringList { QString::number(links) });
    }

    void failedIndexStepLeavesTheStoreAsItWas()
    {
        const QString path = copyOfFixture(QStringLiteral("1.1.0"));
        {
            // Something in the way of the index: the step fails half-way through.
            Connection store(path);
            QVERIFY(QSqlQuery(store.db()).exec(QStringLiteral("CREATE TABLE search_text (x)")));
        }
        QString error;
        QVERIFY(!ModelContainer::open(path, &error));
        QVERIFY2(error.contains(QStringLiteral("1.1.0")), qPrintable(error));
        QVERIFY(QFile::exists(SchemaUpgrade::backupPath(path, QStringLiteral("1.1.0"))));
        Connection store(path);
        QSqlDatabase db = store.db();
        QCOMPARE(SchemaUpgrade::recordedVersion(db), QStringLiteral("1.1.0"));
        QCOMPARE(store.rows(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'search_text'")),
            QStringList { QStringLiteral("CREATE TABLE search_text (x)") });
    }
};

BRAMBLE_TEST_CORE_MAIN(SchemaUpgradeTest)
#include "tst_schema_upgrade.moc"
