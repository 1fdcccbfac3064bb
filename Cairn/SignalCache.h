#pragma once

#include "Cairn/LogHandler.h"
#include "Cairn/SignalPostBody.h"

#include <QReadWriteLock>
#include <QString>
#include <deque>
#include <optional>

namespace Cairn {

// The records built but not yet delivered, oldest first. Thread-safe: count and
// saveCache take the lock shared, pushes and pops exclusively, so a pop and a push never
// interleave.
class SignalCache
{
public:
    static constexpr int maximumNumberOfSignalsToPopAtOnce = 100;
    // While the service cannot be reached records pile up, and the file with them; beyond this
    // many the oldest are dropped, so neither memory nor the cache file grows without bound.
    static constexpr size_t maximumNumberOfCachedSignals = 10000;

    // Does not touch the file; call load() for that (the signal manager does, unless
    // analytics are disabled).
    explicit SignalCache(std::optional<LogHandler> logHandler, const QString &filePath = defaultFilePath());
    SignalCache(const SignalCache &) = delete;
    SignalCache &operator=(const SignalCache &) = delete;

    // "telemetrysignalcache" in the XDG cache directory.
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // Reads the file into the cache (appending to anything already there) and deletes it.
    void load();
    void push(SignalPostBody record);
    void push(SignalBatch records);
    SignalBatch pop();
    int count() const;
    // Writes every pending record to the file, replacing it. Returns false on failure.
    bool saveCache() const;
    // A copy of the pending records, oldest first (tests, benchmarks).
    SignalBatch snapshot() const;

private:
    void log(LogLevel level, const QString &message) const;
    // Call with the write lock held.
    void dropOldestBeyondLimit();

    const std::optional<LogHandler> m_logHandler;
    const QString m_filePath;
    mutable QReadWriteLock m_lock;
    std::deque<SignalPostBody> m_cachedSignals;
};

} // namespace Cairn
