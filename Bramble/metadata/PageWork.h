#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

// Passes over page bytes (head parse, description scrape) run on these workers, never on the
// main thread, and record what they handled so that their bounds can be checked.
namespace PageWork {
// Its own pool, so that a parse never waits behind unrelated long work in the global one.
QThreadPool *pool();

template<typename Function> auto run(Function &&function)
{
    return QtConcurrent::run(pool(), std::forward<Function>(function));
}

struct Counters
{
    int headParses = 0;
    int descriptionScans = 0;
    // Passes that ran on the main thread; zero in the program.
    int onMainThread = 0;
    qint64 largestParserInput = 0;
    qint64 largestParserMemory = 0;
    int deepestTree = 0;
    qint64 largestScan = 0;
};
Counters counters();
void resetCounters();

void recordHeadParse(qint64 parserBytes, qint64 parserPeakMemory, int treeDepth, bool onMainThread);
void recordDescriptionScan(qint64 bytes, bool onMainThread);
// Whether the caller runs on the application's main thread.
bool onMainThread();
} // namespace PageWork
