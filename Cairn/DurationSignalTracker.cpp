#include "Cairn/DurationSignalTracker.h"

#include "Cairn/Cairn.h"
#include "Cairn/Clock.h"
#include "Cairn/SerialQueue.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QObject>
#include <QThread>
#include <algorithm>

namespace Cairn {

namespace {
    const QString kDurationKey = QStringLiteral("Cairn.Signal.durationInSeconds");
} // namespace

DurationSignalTracker &DurationSignalTracker::shared()
{
    static DurationSignalTracker *instance = [] {
        auto *tracker = new DurationSignalTracker;
        tracker->followApplicationState();
        return tracker;
    }();
    // Never deleted: jobs and application callbacks may still arrive during shutdown.
    return *instance;
}

DurationSignalTracker::DurationSignalTracker()
    : m_queue(std::make_unique<SerialQueue>(QStringLiteral("com.cairn.DurationSignalTracker")))
{ }

DurationSignalTracker::~DurationSignalTracker()
{
    m_queue->waitForDone();
}

void DurationSignalTracker::followApplicationState()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app)
        return;
    // A context object on the application's thread, so the callback runs there whichever
    // thread created the tracker.
    auto *context = new QObject;
    context->moveToThread(app->thread());
    context->setParent(app);
    QObject::connect(app, &QGuiApplication::applicationStateChanged, context,
        [this](Qt::ApplicationState state) { applicationActiveChanged(state == Qt::ApplicationActive); });
}

void DurationSignalTracker::startTracking(
    const QString &name, const Parameters &parameters, bool includeBackgroundTime)
{
    const qint64 now = Clock::nowMSecs();
    m_queue->async([this, name, parameters, includeBackgroundTime, now] {
        m_startedSignals.insert(name, StartedSignal { now, parameters, includeBackgroundTime });
    });
}

void DurationSignalTracker::discardTracking(const QString &name)
{
    m_queue->async([this, name] { m_startedSignals.remove(name); });
}

void DurationSignalTracker::stopTracking(const QString &name, const Parameters &parameters,
    std::optional<double> floatValue, const std::optional<QString> &customUserID)
{
    const qint64 now = Clock::nowMSecs();
    m_queue->async([this, name, parameters, floatValue, customUserID, now] {
        const auto it = m_startedSignals.constFind(name);
        if (it == m_startedSignals.constEnd())
            return;
        const StartedSignal started = *it;
        m_startedSignals.erase(it);

        // A clock set back must not produce a negative duration.
        Parameters combined { { kDurationKey,
            durationText(std::max<qint64>(0, now - started.startTimeMSecs)) } };
        for (auto p = started.parameters.cbegin(); p != started.parameters.cend(); ++p)
            combined.insert(p.key(), p.value());
        for (auto p = parameters.cbegin(); p != parameters.cend(); ++p)
            combined.insert(p.key(), p.value());
        recordSignal(name, combined, floatValue, customUserID);
    });
}

void DurationSignalTracker::applicationActiveChanged(bool active)
{
    const qint64 now = Clock::nowMSecs();
    m_queue->async([this, active, now] {
        if (active == m_active)
            return;
        m_active = active;
        if (!active) {
            m_lastEnteredBackgroundMSecs = now;
            return;
        }
        if (!m_lastEnteredBackgroundMSecs)
            return;
        const qint64 wentInactive = *m_lastEnteredBackgroundMSecs;
        m_lastEnteredBackgroundMSecs.reset();
        for (auto it = m_startedSignals.begin(); it != m_startedSignals.end(); ++it) {
            if (it->includeBackgroundTime)
                continue;
            // Only the inactive time since the signal began: one begun while inactive starts
            // counting now, never later.
            const qint64 inactiveSince = std::max(wentInactive, it->startTimeMSecs);
            it->startTimeMSecs += std::max<qint64>(0, now - inactiveSince);
        }
    });
}

void DurationSignalTracker::waitForIdle()
{
    m_queue->waitForDone();
}

QString DurationSignalTracker::durationText(qint64 elapsedMSecs)
{
    // Whole milliseconds already; shortest text that reads back as the same double.
    QString text = QString::number(double(elapsedMSecs) / 1000.0, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

void beginDurationSignal(const QString &name, const Parameters &parameters, bool includeBackgroundTime)
{
    DurationSignalTracker::shared().startTracking(name, parameters, includeBackgroundTime);
}

void discardDurationSignal(const QString &name)
{
    DurationSignalTracker::shared().discardTracking(name);
}

void stopDurationSignal(const QString &name, const Parameters &parameters, std::optional<double> floatValue,
    const std::optional<QString> &customUserID)
{
    DurationSignalTracker::shared().stopTracking(name, parameters, floatValue, customUserID);
}

} // namespace Cairn
