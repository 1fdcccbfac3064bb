// Export and import at the size of a very large library: 1,000 groups of 100 links.
#include "exchange/DataExchange.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int groupCount = 1000;
constexpr int linksPerGroup = 100;

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

// Lets the peak figure below start from the current resident size.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

ExportData generatedLibrary()
{
    ExportData data;
    const QDateTime created = ExportData::currentTime();
    for (int g = 0; g < groupCount; ++g) {
        ExportGroup group { QStringLiteral("Group %1 阅读").arg(g), created, {} };
        group.bookmarks.reserve(linksPerGroup);
        for (int i = 0; i < linksPerGroup; ++i) {
            ExportItem item { QStringLiteral("https://site%1.example/articles/%2").arg(g).arg(i),
                QStringLiteral("Article %1 on site %2").arg(i).arg(g), std::nullopt, created };
            if (i % 2 == 0)
                item.summary
                    = QStringLiteral("A one-line summary of article %1 that is about this long.").arg(i);
            group.bookmarks.append(std::move(item));
        }
        data.groups.append(std::move(group));
    }
    return data;
}

// The longest time the event loop went without a turn while a task ran.
class GapMeter
{
public:
    GapMeter()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    int turns() const { return m_turns; }
    int over(double ms) const
    {
        return int(std::count_if(m_gaps.begin(), m_gaps.end(), [ms](double gap) { return gap > ms; }));
    }
    void start()
    {
        m_gaps.clear();
        m_turns = 0;
        m_longest = 0;
        m_last = Clock::now();
        m_timer.start();
    }
    double stop()
    {
        tick();
        m_timer.stop();
        return m_longest;
    }

private:
    void tick()
    {
        const auto now = Clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - m_last).count();
        m_longest = std::max(m_longest, gap);
        m_gaps.push_back(gap);
        ++m_turns;
        m_last = now;
    }
    QTimer m_timer;
    Clock::time_point m_last;
    double m_longest = 0;
    int m_turns = 0;
    std::vector<double> m_gaps;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Bench::Table table;
    const QString sourceFile = dir.filePath(QStringLiteral("generated.json"));
    {
        QString error;
        if (!JSONDocument(generatedLibrary()).writeFile(sourceFile, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }

    // Decoding alone, as the worker thread does it during the import.
    double readMs = 0;
    {
        const auto readStart = Clock::now();
        const JSONReadResult decoded = JSONDocument::readFile(sourceFile);
        readMs = Bench::msSince(readStart);
        if (!decoded.document) {
            std::fprintf(stderr, "%s\n", qPrintable(decoded.error));
            return 1;
        }
    }

    QString error;
    auto container = ModelContainer::open(dir.filePath(QStringLiteral("bench.sqlite")), &error);
    if (!container) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ModelContext *context = container->mainContext();
    DataExchange exchange(context);
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    // No network here: the refresh that follows the import is not part of the measure.
    exchange.setFetchFunction([](QString) -> QCoro::Task<LinkMetadata> { co_return LinkMetadata {}; });

    GapMeter gaps;
    const double residentBefore = Bench::residentMiB();
    resetPeakMemory();
    gaps.start();
    const auto importStart = Clock::now();
    const ImportResult imported = QCoro::waitFor(exchange.importData(sourceFile));
    const double importMs = Bench::msSince(importStart);
    const double importGap = gaps.stop();
    const int importTurns = gaps.turns();
    const int importLongGaps = gaps.over(50);
    const double peak = statusMiB("VmHWM:");
    if (!imported.ok) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(imported.error));
        return 1;
    }

    const QString exportFile = dir.filePath(QStringLiteral("Bramble_Backup.json"));
    gaps.start();
    const auto exportStart = Clock::now();
    const ExportResult exported = QCoro::waitFor(exchange.exportData(exportFile));
    const double exportMs = Bench::msSince(exportStart);
    const double exportGap = gaps.stop();
    if (!exported.ok) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(exported.error));
        return 1;
    }

    const QString size
        = QString::number(QFileInfo(exportFile).size() / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
    table.add(QStringLiteral("export 100,000 links: time"), Bench::ms(exportMs), QStringLiteral("< 1000 ms"));
    table.add(QStringLiteral("export: file size"), size);
    table.add(QStringLiteral("export: longest time without an event-loop turn"), Bench::ms(exportGap));
    table.add(QStringLiteral("import: read and decode the file (worker thread)"), Bench::ms(readMs));
    table.add(QStringLiteral("import 100,000 links: time until success"), Bench::ms(importMs),
        QStringLiteral("< 3000 ms"));
    table.add(QStringLiteral("import: longest time without an event-loop turn"), Bench::ms(importGap),
        QStringLiteral("<= 50 ms"));
    table.add(QStringLiteral("import: event-loop turns / of them after more than 50 ms"),
        QStringLiteral("%1 / %2").arg(importTurns).arg(importLongGaps));
    table.add(QStringLiteral("import: peak resident memory of the process"),
        QString::number(peak, 'f', 1) + QStringLiteral(" MiB"));
    table.add(QStringLiteral("import: resident memory before"),
        QString::number(residentBefore, 'f', 1) + QStringLiteral(" MiB"));
    table.add(QStringLiteral("import: groups / links created"),
        QStringLiteral("%1 / %2").arg(imported.groupCount).arg(imported.linkCount));
    table.print();
    return 0;
}
