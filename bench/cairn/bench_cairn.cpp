// Cairn analytics client: main-thread cost per signal, record-building rate, and saving and
// loading a cache of 10,000 records. Sends nothing: the timer waits an hour and the service
// address is a closed local port.
#include "support/BenchTable.h"

#include <Cairn/Cairn.h>
#include <Cairn/Clock.h>
#include <Cairn/DefaultSignalPayload.h>
#include <Cairn/SignalCache.h>
#include <Cairn/SignalManager.h>
#include <Cairn/TelemetryManager.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

using namespace Cairn;
using Clock_ = std::chrono::steady_clock;

namespace {

Parameters typicalParameters(int i)
{
    return { { QStringLiteral("groupCount"), QString::number(i % 17) },
        { QStringLiteral("linkCount"), QString::number(i % 311) } };
}

void drainMainThread()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

int main(int argc, char **argv)
{
    // Never touch the real user's folders, whoever runs this.
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Bench::Table table;

    auto config = std::make_shared<TelemetryManagerConfiguration>(
        QStringLiteral("5C1A7E02-8B3D-4F6A-9E21-D4B7C0F3A915"), QString(),
        QUrl(QStringLiteral("http://127.0.0.1:9")));
    config->setSendInterval(std::chrono::hours(1));
    config->setSessionStartDelay(std::chrono::hours(1));
    config->setLogHandler(std::nullopt);
    Cairn::initialize(config);
    const auto manager = Cairn::installedManager();
    SignalManager &signals_ = manager->signalManager();

    // Warm-up: static facts, session manager, default user.
    for (int i = 0; i < 200; ++i)
        Cairn::signal(QStringLiteral("warm_up"), typicalParameters(i));
    drainMainThread();
    signals_.waitForBuilds();
    signals_.cache()->pop();
    signals_.cache()->pop();

    // 1. The facade call alone, then its queued main-thread half (defaults + user identifier).
    constexpr int kSignals = 5000;
    auto start = Clock_::now();
    for (int i = 0; i < kSignals; ++i)
        Cairn::signal(QStringLiteral("link_added"), typicalParameters(i));
    const double facadeMs = Bench::msSince(start);
    start = Clock_::now();
    drainMainThread();
    const double halfMs = Bench::msSince(start);
    signals_.waitForBuilds();
    const int queued = signals_.cache()->count();
    while (signals_.cache()->count() > 0)
        signals_.cache()->pop();

    // Interleaved, as an application sends them: one signal, one turn of the event loop.
    std::vector<double> perSignal;
    perSignal.reserve(kSignals);
    for (int i = 0; i < kSignals; ++i) {
        const auto t = Clock_::now();
        Cairn::signal(QStringLiteral("link_added"), typicalParameters(i));
        drainMainThread();
        perSignal.push_back(Bench::msSince(t) * 1000.0);
    }
    signals_.waitForBuilds();
    while (signals_.cache()->count() > 0)
        signals_.cache()->pop();

    // 2. Records built per second: end to end (facade to cache), then the builder alone.
    constexpr int kEndToEnd = 10000;
    start = Clock_::now();
    for (int i = 0; i < kEndToEnd; ++i) {
        Cairn::signal(QStringLiteral("link_added"), typicalParameters(i));
        if (i % 100 == 99)
            drainMainThread();
    }
    drainMainThread();
    signals_.waitForBuilds();
    const double endToEndMs = Bench::msSince(start);
    const int built = signals_.cache()->count();

    DefaultSignalPayload::Inputs inputs;
    const Parameters defaults = DefaultSignalPayload::parameters(inputs);
    constexpr int kBuild = 20000;
    start = Clock_::now();
    std::size_t checksum = 0;
    for (int i = 0; i < kBuild; ++i) {
        const SignalPostBody record = SignalManager::buildRecord(QStringLiteral("link_added"), defaults, {},
            typicalParameters(i), std::nullopt, std::nullopt, QStringLiteral("USER"),
            config->telemetryAppID(), QString(), config->sessionID(), false);
        checksum += size_t(record.payload.size());
    }
    const double buildMs = Bench::msSince(start);

    // 3. A cache of 10,000 records: save (fdatasync and rename included) and load.
    SignalBatch records = signals_.cache()->snapshot();
    records.resize(std::min<size_t>(records.size(), 10000));
    const QString path = home.path() + QStringLiteral("/bench-cache/telemetrysignalcache");
    std::vector<double> saves, loads;
    qint64 fileSize = 0;
    int loaded = 0;
    for (int round = 0; round < 5; ++round) {
        QFile::remove(path);
        {
            SignalCache cache(std::nullopt, path);
            cache.load();
            cache.push(records);
            start = Clock_::now();
            cache.saveCache();
            saves.push_back(Bench::msSince(start));
            fileSize = QFileInfo(path).size();
            cache.waitForFileWrites();
        }
        SignalCache reader(std::nullopt, path);
        start = Clock_::now();
        reader.load();
        loads.push_back(Bench::msSince(start));
        loaded = reader.count();
    }

    // 4. Pushing into a full cache: each push drops the oldest record by time.
    std::vector<double> fullPushes;
    {
        SignalCache full(std::nullopt, SignalCache::Options {});
        SignalBatch filler = records;
        while (filler.size() < SignalCache::maximumNumberOfCachedSignals)
            filler.insert(filler.end(), records.begin(), records.end());
        filler.resize(SignalCache::maximumNumberOfCachedSignals);
        full.push(filler);
        SignalPostBody extra = records.front();
        for (int i = 0; i < 1000; ++i) {
            extra.receivedAt = extra.receivedAt.addMSecs(1);
            const auto t = Clock_::now();
            full.push(extra);
            fullPushes.push_back(Bench::msSince(t) * 1000.0);
        }
    }

    const double facadeUs = facadeMs * 1000.0 / kSignals;
    const double halfUs = halfMs * 1000.0 / kSignals;
    const auto us = [](double value) { return QString::number(value, 'f', 1) + QStringLiteral(" us"); };
    table.add(QStringLiteral("main-thread cost per signal: call + its loop turn (median)"),
        us(Bench::median(perSignal)), QStringLiteral("< 100 us"));
    table.add(QStringLiteral("burst of %1: signal() call alone, mean").arg(kSignals), us(facadeUs));
    table.add(QStringLiteral("burst of %1: main-thread half of building, mean").arg(kSignals), us(halfUs));
    table.add(QStringLiteral("burst of %1: main-thread cost per signal, mean").arg(kSignals),
        us(facadeUs + halfUs), QStringLiteral("< 100 us"));
    table.add(QStringLiteral("records queued in that run"), QString::number(queued));
    table.add(QStringLiteral("records built per second, facade to cache (%1)").arg(built),
        QString::number(built / (endToEndMs / 1000.0), 'f', 0));
    table.add(
        QStringLiteral("records built per second, builder alone (%1 fields each)").arg(checksum / kBuild),
        QString::number(kBuild / (buildMs / 1000.0), 'f', 0));
    table.add(QStringLiteral("save cache of %1 records (median of 5)").arg(records.size()),
        Bench::ms(Bench::median(saves)), QStringLiteral("< 200 ms"));
    table.add(QStringLiteral("load cache of %1 records (median of 5)").arg(loaded),
        Bench::ms(Bench::median(loads)), QStringLiteral("< 200 ms"));
    table.add(QStringLiteral("push into a full cache of %1 (median of 1000)")
                  .arg(SignalCache::maximumNumberOfCachedSignals),
        us(Bench::median(fullPushes)), QStringLiteral("< 1000 us"));
    table.add(QStringLiteral("cache file size"),
        QString::number(double(fileSize) / (1024.0 * 1024.0), 'f', 2) + QStringLiteral(" MiB"));
    table.add(QStringLiteral("resident memory"),
        QString::number(Bench::residentMiB(), 'f', 1) + QStringLiteral(" MiB"));
    table.print();

    Cairn::deinitialize();
    return 0;
}
