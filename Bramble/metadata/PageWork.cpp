#include "PageWork.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>

namespace {
QMutex g_mutex;
PageWork::Counters g_counters;
} // namespace

QThreadPool *PageWork::pool()
{
    static QThreadPool *instance = [] {
        auto *pool = new QThreadPool; // never destroyed: a parse may still finish after main()
        // One per fetch permit.
        pool->setMaxThreadCount(3);
        pool->setExpiryTimeout(30000);
        return pool;
    }();
    return instance;
}

PageWork::Counters PageWork::counters()
{
    QMutexLocker locker(&g_mutex);
    return g_counters;
}

void PageWork::resetCounters()
{
    QMutexLocker locker(&g_mutex);
    g_counters = {};
}

void PageWork::recordHeadParse(qint64 parserBytes, qint64 parserPeakMemory, int treeDepth, bool onMainThread)
{
    QMutexLocker locker(&g_mutex);
    ++g_counters.headParses;
    g_counters.onMainThread += onMainThread ? 1 : 0;
    g_counters.largestParserInput = std::max(g_counters.largestParserInput, parserBytes);
    g_counters.largestParserMemory = std::max(g_counters.largestParserMemory, parserPeakMemory);
    g_counters.deepestTree = std::max(g_counters.deepestTree, treeDepth);
}

void PageWork::recordDescriptionScan(qint64 bytes, bool onMainThread)
{
    QMutexLocker locker(&g_mutex);
    ++g_counters.descriptionScans;
    g_counters.onMainThread += onMainThread ? 1 : 0;
    g_counters.largestScan = std::max(g_counters.largestScan, bytes);
}

bool PageWork::onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
