#pragma once

#include "Cairn/TelemetryManagerConfiguration.h"

#include <QHash>
#include <memory>
#include <optional>

namespace Cairn {

class SerialQueue;

// Keeps the duration signals that have begun. All state lives on one serial worker: callers
// only take the time and hand the job over, so no caller ever waits, and jobs see each other
// in the order they were submitted.
class DurationSignalTracker
{
public:
    // Created on first use; from then on it follows the application's active/inactive state
    // when a QGuiApplication exists.
    static DurationSignalTracker &shared();

    DurationSignalTracker();
    ~DurationSignalTracker();
    DurationSignalTracker(const DurationSignalTracker &) = delete;
    DurationSignalTracker &operator=(const DurationSignalTracker &) = delete;

    // Replaces any entry with the same name.
    void startTracking(const QString &name, const Parameters &parameters, bool includeBackgroundTime);
    void discardTracking(const QString &name);
    // Removes the entry and records the signal; nothing when the name is not tracked.
    void stopTracking(const QString &name, const Parameters &parameters, std::optional<double> floatValue,
        const std::optional<QString> &customUserID);

    // The application's activity changes. Hosts without a QGuiApplication (and tests) call
    // this themselves; repeated calls with the same state are ignored.
    void applicationActiveChanged(bool active);

    // Blocks until every job submitted so far has run (tests, termination).
    void waitForIdle();

    // "Cairn.Signal.durationInSeconds" of an elapsed time: whole milliseconds, as a double.
    static QString durationText(qint64 elapsedMSecs);

private:
    struct StartedSignal
    {
        qint64 startTimeMSecs = 0;
        Parameters parameters;
        bool includeBackgroundTime = false;
    };

    void followApplicationState();

    std::unique_ptr<SerialQueue> m_queue;
    // Touched only by jobs on m_queue.
    QHash<QString, StartedSignal> m_startedSignals;
    std::optional<qint64> m_lastEnteredBackgroundMSecs;
    bool m_active = true;
};

// The facade operations.
void beginDurationSignal(
    const QString &name, const Parameters &parameters = {}, bool includeBackgroundTime = false);
void discardDurationSignal(const QString &name);
void stopDurationSignal(const QString &name, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);

} // namespace Cairn
