// Start-up of the program to its first painted window, and its memory at that moment, with an
// empty store and with 100 groups of 100 links ("10,000 links", each with a 4 KB icon). Every run is a fresh
// process (this program started again with --child), so library loading is counted too.
#include "app/BrambleApp.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"
#include "ui/ContentView.h"

#include <QApplication>
#include <QListView>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int runsPerStore = 7;

// The program's own start-up, up to the first paint of the window's content.
int runChild(int argc, char **argv, const QString &storePath)
{
    const auto start = Clock::now();
    BrambleApp::setApplicationIdentity();
    QApplication application(argc, argv);

    SingleInstance instance(storePath);
    if (instance.acquire() != SingleInstance::Role::Primary) {
        std::fprintf(stderr, "store is in use\n");
        return 1;
    }
    QString error;
    auto container = ModelContainer::open(storePath, &error);
    if (!container) {
        std::fprintf(stderr, "Could not create ModelContainer: %s\n", qPrintable(error));
        return 1;
    }
    BrambleApp app(std::move(container));
    // Seeding an empty store would fetch the example pages from the internet.
    app.mainWindow()->contentView()->setSeeder([](ModelContext *) {});

    QWidget *content = app.mainWindow()->contentView()->sidebarList()->viewport();
    bool reported = false;
    struct PaintWatcher : QObject
    {
        std::function<void()> onPaint;
        QWidget *target = nullptr;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (watched == target && event->type() == QEvent::Paint && onPaint)
                onPaint();
            return false;
        }
    } watcher;
    watcher.target = content;
    watcher.onPaint = [&] {
        if (reported)
            return;
        reported = true;
        // Report once the whole window has been painted and flushed.
        QTimer::singleShot(0, [&] {
            std::printf("shown %.3f %.3f\n", Bench::msSince(start), Bench::residentMiB());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    };
    content->installEventFilter(&watcher);
    app.showMainWindow();
    return QApplication::exec();
}

bool buildLibrary(const QString &path, int groups, int linksPerGroup)
{
    QString error;
    auto container = ModelContainer::open(path, &error);
    if (!container) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    ModelContext *context = container->mainContext();
    context->setAutosaveEnabled(false);
    QRandomGenerator random(42);
    for (int g = 0; g < groups; ++g) {
        auto *group = new BookmarkGroup(QStringLiteral("分组 %1").arg(g + 1));
        group->setSortOrder(g);
        context->insert(group);
        for (int i = 0; i < linksPerGroup; ++i) {
            auto *item
                = new BookmarkItem(QStringLiteral("https://site%1.example/page/%2").arg(g).arg(i), group);
            item->setTitle(QStringLiteral("Page %1 of site %2").arg(i).arg(g));
            item->setSummary(QStringLiteral("A one-line summary of page %1 that is about this long.").arg(i));
            QByteArray icon(4096, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(icon.data()), icon.size() / 4);
            item->setIconData(icon);
            item->setSortOrder(i);
        }
    }
    return context->save(&error) || (std::fprintf(stderr, "%s\n", qPrintable(error)), false);
}

struct Run
{
    double wallMs = 0;
    double inProcessMs = 0;
    double residentMiB = 0;
};

bool measure(const QString &program, const QString &storePath, Run *run)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments({ QStringLiteral("--child"), storePath });
    process.setProcessChannelMode(QProcess::SeparateChannels);
    const auto start = Clock::now();
    process.start();
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(30000)) {
            std::fprintf(stderr, "child failed: %s\n", process.readAllStandardError().constData());
            process.kill();
            process.waitForFinished();
            return false;
        }
    }
    run->wallMs = Bench::msSince(start);
    const QList<QByteArray> fields = process.readLine().trimmed().split(' ');
    process.waitForFinished(30000);
    if (fields.size() != 3 || fields.at(0) != "shown")
        return false;
    run->inProcessMs = fields.at(1).toDouble();
    run->residentMiB = fields.at(2).toDouble();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv, QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    struct Scenario
    {
        QString label;
        QString path;
        int groups;
        int links;
    };
    const QList<Scenario> scenarios = {
        { QStringLiteral("empty store"), dir.filePath(QStringLiteral("empty/Bramble.sqlite")), 0, 0 },
        { QStringLiteral("10,000 links"), dir.filePath(QStringLiteral("full/Bramble.sqlite")), 100, 100 },
    };

    Bench::Table table;
    for (const Scenario &scenario : scenarios) {
        const auto buildStart = Clock::now();
        if (!buildLibrary(scenario.path, scenario.groups, scenario.links))
            return 1;
        std::fprintf(stderr, "built %s in %.0f ms\n", qPrintable(scenario.label), Bench::msSince(buildStart));

        std::vector<double> wall, inProcess, resident;
        Run run;
        // One unmeasured run warms the file cache, as on any start but the first after boot.
        if (!measure(QCoreApplication::applicationFilePath(), scenario.path, &run))
            return 1;
        for (int i = 0; i < runsPerStore; ++i) {
            if (!measure(QCoreApplication::applicationFilePath(), scenario.path, &run))
                return 1;
            wall.push_back(run.wallMs);
            inProcess.push_back(run.inProcessMs);
            resident.push_back(run.residentMiB);
        }
        const bool full = scenario.groups > 0;
        table.add(
            QStringLiteral("%1: launch to window shown, median of %2").arg(scenario.label).arg(runsPerStore),
            Bench::ms(Bench::median(wall)), full ? QStringLiteral("< 300 ms") : QString());
        table.add(QStringLiteral("%1: main() to window shown").arg(scenario.label),
            Bench::ms(Bench::median(inProcess)));
        table.add(QStringLiteral("%1: resident memory at window shown").arg(scenario.label),
            QString::number(Bench::median(resident), 'f', 1) + QStringLiteral(" MiB"),
            full ? QStringLiteral("< 80 MB") : QString());
    }
    table.print();
    return 0;
}
