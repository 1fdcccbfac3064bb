#pragma once

#include "Cairn/SignalCache.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace Cairn {

// State shared by the signal manager (main thread), its sender (timer thread) and the
// record-building jobs. The configuration and the cache guard themselves; the rest is atomic.
struct SignalManagerShared
{
    ConfigurationPtr configuration;
    std::shared_ptr<SignalCache> cache;
    bool previewMode = false;
    // Set at termination: no round starts after it, and late replies change nothing.
    std::atomic<bool> terminating { false };
    // POSTs started so far, and immediate-sync rounds looked at (tests count them).
    std::atomic<int> requestsStarted { 0 };
    std::atomic<int> immediateRounds { 0 };

    // The configuration's log handler, or none in preview mode.
    std::optional<LogHandler> logHandler() const;
    void log(LogLevel level, const QString &message) const;
    // Loads the cache file once (never while inactive, so that a file left by an earlier run
    // stays untouched).
    void ensureCacheLoaded();
};

// Lives on the "com.cairn.SignalTimer" thread: owns that thread's QNetworkAccessManager and
// the timer, pops batches and posts them. Rounds are due by Cairn::Clock: every send interval,
// later after consecutive failures (doubling from the interval up to ten minutes, back to
// normal at the first success).
class SignalSender : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds maximumBackoff { 600000 };
    // The wait after `failures` consecutive failures (the interval itself after the first).
    static std::chrono::milliseconds backoff(std::chrono::milliseconds interval, int failures);
    // Whether the service refuses these records themselves (too large, malformed), rather
    // than failing or refusing the client: such a batch is split, such a record dropped.
    static bool refusesRecords(int status);

    explicit SignalSender(std::shared_ptr<SignalManagerShared> shared);
    ~SignalSender() override;

    // On the timer thread: loads the cache, sends once at once, then as rounds fall due.
    void start(std::chrono::milliseconds interval);
    // One round: the oldest up to 100 records, if any, in one POST.
    void sendPendingSignals();
    // An extra round (immediate sync); skipped while backing off.
    void sendNowUnlessBackingOff();
    // Runs a round if one is due and sets the timer for the next (the clock may have moved).
    void checkSchedule();

private:
    void send(quint64 id, SignalBatch batch);
    void finished(quint64 id, QNetworkReply *reply);
    void failed();
    void succeeded();
    void arm();

    std::shared_ptr<SignalManagerShared> m_shared;
    QNetworkAccessManager *m_network = nullptr;
    QTimer *m_timer = nullptr;
    std::chrono::milliseconds m_interval { 10000 };
    qint64 m_dueAt = 0;
    int m_failures = 0;
    // Batches this sender checked out and has not settled; put back if it goes first.
    std::set<quint64> m_mine;
};

} // namespace Cairn
