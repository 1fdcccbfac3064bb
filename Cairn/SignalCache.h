#pragma once

#include "Cairn/LogHandler.h"
#include "Cairn/SignalPostBody.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class QLockFile;

namespace Cairn {

class CacheWriter;

// The records built but not yet delivered. Pending records wait oldest first; a batch being
// sent is checked out (still held here, under an id) until the service accepts it, refuses it
// for good, or it is put back. The file holds both, so a crash loses nothing that was queued:
// after load() it is rewritten in the background whenever they change (temporary file,
// fsync, rename; at most once per write interval), and at termination by saveCache().
// Thread-safe: every access takes one mutex; file writes are serialised by a second one.
class SignalCache
{
public:
    static constexpr int maximumNumberOfSignalsToPopAtOnce = 100;
    // While the service cannot be reached records pile up, and the file with them; beyond this
    // many the oldest (by time) are dropped, so neither memory nor the file grows without bound.
    static constexpr size_t maximumNumberOfCachedSignals = 10000;
    // 10,000 ordinary records take about 26 MB; a larger file is not one of ours.
    static constexpr qint64 maximumFileSize = qint64(128) * 1024 * 1024;

    struct Options
    {
        // Empty: memory only.
        QString filePath;
        // The shared file of older versions; its records of `appID` are moved over once.
        QString legacyFilePath;
        QString appID;
        std::chrono::milliseconds writeInterval { 3000 };
    };

    SignalCache(std::optional<LogHandler> logHandler, Options options);
    // A cache on the given file, nothing to migrate (tests, benchmarks).
    SignalCache(std::optional<LogHandler> logHandler, const QString &filePath);
    ~SignalCache();
    SignalCache(const SignalCache &) = delete;
    SignalCache &operator=(const SignalCache &) = delete;

    // The one cache of this process for options.filePath: managers replacing each other
    // for the same application share it (and its file lock) instead of racing for the file.
    static std::shared_ptr<SignalCache> shared(std::optional<LogHandler> logHandler, Options options);

    // "cairn/<client suite name>.telemetrysignalcache" under the XDG cache directory (or the
    // given one).
    static QString filePath(const QString &telemetryAppID, const QString &cacheDirectory = QString());
    // "telemetrysignalcache" in the XDG cache directory, shared by every app of older versions.
    static QString legacyFilePath();
    QString filePath() const { return m_options.filePath; }

    // Once: takes the file (a lock beside it keeps a second process of the same app away),
    // reads it into the cache (before anything queued meanwhile) and moves over the legacy
    // file's records. The file stays until its records are delivered.
    void load();

    void push(SignalPostBody record);
    void push(SignalBatch records);
    // Removes and returns the oldest up to 100 pending records.
    SignalBatch pop();
    // Like pop, but keeps the records (in the file too) under the returned id until settled;
    // 0 when nothing is pending.
    quint64 checkOut(SignalBatch *batch);
    // The batch is done with (delivered, or refused for good): forgotten. Returns its records;
    // std::nullopt when the id is unknown (termination already put it back).
    std::optional<SignalBatch> settle(quint64 id);
    // The batch goes back behind the pending records. False when the id is unknown.
    bool putBack(quint64 id);
    // Replaces a checked-out batch of two or more records by its two halves, checked out in
    // turn. Empty when the id is unknown or the batch holds a single record.
    std::vector<std::pair<quint64, SignalBatch>> split(quint64 id);
    // Puts every checked-out batch back, oldest first; returns how many records that was.
    int putBackAll();
    // Waits until no batch is checked out, at most `timeout`; true when none is.
    bool waitUntilNothingInFlight(std::chrono::milliseconds timeout);

    // Pending records.
    int count() const;
    // Records checked out.
    int inFlightCount() const;
    // Writes every record still held (checked out first, then pending) to the file, replacing
    // it, and says so at `level`. Returns false on failure.
    bool saveCache(LogLevel level = LogLevel::info);
    // Blocks until the background writer has written every change so far.
    void waitForFileWrites();
    // A copy of the pending records, oldest first (tests, benchmarks).
    SignalBatch snapshot() const;

private:
    enum class FileState { missing, read, unreadable, tooLarge };

    void log(LogLevel level, const QString &message) const;
    void changed();
    // Call with m_mutex held. Returns how many were dropped.
    size_t dropOldestBeyondLimit();
    // Call with m_fileMutex held.
    bool takeFile();
    void adoptFile();
    FileState readFile(const QString &path, SignalBatch *records) const;
    void moveLegacyRecords(SignalBatch *records);
    bool writeFile(LogLevel level);

    const std::optional<LogHandler> m_logHandler;
    const Options m_options;

    mutable std::mutex m_mutex;
    std::condition_variable m_inFlightChanged;
    std::deque<SignalPostBody> m_pending;
    std::map<quint64, SignalBatch> m_inFlight;
    int m_inFlightRecords = 0;
    quint64 m_nextID = 1;

    std::mutex m_fileMutex;
    bool m_loaded = false;
    bool m_ownsFile = false;
    std::unique_ptr<QLockFile> m_fileLock;
    std::unique_ptr<CacheWriter> m_writer;
};

} // namespace Cairn
