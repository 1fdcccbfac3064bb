// Store figures at the size of a heavy user's library: 100 groups of 100 links with icons.
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    Bench::Table table;

    {
        QString error;
        auto container = ModelContainer::open(path, &error);
        ModelContext *context = container->mainContext();
        context->setAutosaveEnabled(false);
        const QByteArray icon(4096, '\x42');
        const auto start = Clock::now();
        for (int g = 0; g < 100; ++g) {
            auto *group = new BookmarkGroup(QStringLiteral("Group %1").arg(g));
            group->setSortOrder(g);
            context->insert(group);
            for (int i = 0; i < 100; ++i) {
                auto *item
                    = new BookmarkItem(QStringLiteral("https://site%1.example/page/%2").arg(g).arg(i), group);
                item->setTitle(QStringLiteral("Page %1 of site %2").arg(i).arg(g));
                item->setSummary(
                    QStringLiteral("A one-line summary of page %1 that is about this long.").arg(i));
                item->setIconData(icon);
                item->setSortOrder(i);
            }
        }
        context->save();
        table.add(
            QStringLiteral("create and save 10,000 links with 4 KB icons"), Bench::ms(Bench::msSince(start)));
    }

    const auto openStart = Clock::now();
    QString error;
    auto container = ModelContainer::open(path, &error);
    const double openMs = Bench::msSince(openStart);
    ModelContext *context = container->mainContext();
    table.add(QStringLiteral("open store of 10,000 links (icons not read)"), Bench::ms(openMs));
    // Memory freed by the first container is reused, so report the whole process.
    table.add(QStringLiteral("resident memory of the process, store open"),
        QString::number(Bench::residentMiB(), 'f', 1) + QStringLiteral(" MiB"));

    QList<BookmarkGroup *> groups = context->groups();
    std::vector<double> renames;
    for (int round = 0; round < 30; ++round) {
        groups[round % groups.size()]->setName(QStringLiteral("Renamed %1").arg(round));
        const auto start = Clock::now();
        context->save();
        renames.push_back(Bench::msSince(start));
    }
    table.add(QStringLiteral("save after renaming one group (median of 30)"),
        Bench::ms(Bench::median(renames)), QStringLiteral("< 5 ms"));

    // A drop renumbers every link of a group; a group of 10,000 is the worst case.
    const QList<BookmarkItem *> items = context->items();
    std::vector<double> renumbers;
    for (int round = 0; round < 5; ++round) {
        qint64 n = 0;
        for (BookmarkItem *item : items)
            item->setSortOrder(round % 2 ? n++ : 10'000 - n++);
        const auto start = Clock::now();
        context->save();
        renumbers.push_back(Bench::msSince(start));
    }
    table.add(QStringLiteral("save after renumbering 10,000 links (median of 5)"),
        Bench::ms(Bench::median(renumbers)));

    std::vector<double> iconReads;
    for (int round = 0; round < 3; ++round) {
        auto reopened = (container.reset(), ModelContainer::open(path, &error));
        const QList<BookmarkItem *> some = reopened->mainContext()->items().mid(0, 20);
        const auto start = Clock::now();
        for (BookmarkItem *item : some)
            (void)item->iconData();
        iconReads.push_back(Bench::msSince(start));
        container = std::move(reopened);
    }
    table.add(QStringLiteral("load icons of one viewport (20 rows)"), Bench::ms(Bench::median(iconReads)));

    // Another program holds the store for 3 s while the user keeps renaming: how long the
    // event loop stands still at worst, and when the change reaches the file after release.
    {
        ModelContext *live = container->mainContext();
        live->setAutosaveEnabled(true);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(path);
        other.open();
        QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE"));
        double longestGap = 0;
        auto last = Clock::now();
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longestGap = std::max(longestGap, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        ticker.start();
        QList<BookmarkGroup *> liveGroups = live->groups();
        QEventLoop loop;
        int round = 0;
        QTimer typing;
        typing.setInterval(100);
        QObject::connect(&typing, &QTimer::timeout,
            [&] { liveGroups[0]->setName(QStringLiteral("Typed %1").arg(++round)); });
        typing.start();
        QTimer::singleShot(3000, &loop, [&] {
            typing.stop();
            QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
            loop.quit();
        });
        loop.exec();
        const auto released = Clock::now();
        while (live->hasChanges())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double catchUp = Bench::msSince(released);
        ticker.stop();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        table.add(QStringLiteral("locked store: longest time without an event-loop turn"),
            Bench::ms(longestGap), QStringLiteral("<= 50 ms"));
        table.add(QStringLiteral("locked store: from release to the changes on disk"), Bench::ms(catchUp),
            QStringLiteral("<= 5000 ms"));
    }
    table.print();
    return 0;
}
