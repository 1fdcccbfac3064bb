#include "Cairn/SignalCache.h"

#include "Cairn/CacheWriter.h"
#include "Cairn/ClientDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace Cairn {

namespace {
    // The rename of a new file is durable only once its folder is synced too.
    void syncDirectory(const QString &directory)
    {
        const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        ::fsync(fd);
        ::close(fd);
    }

    bool writeAtomically(const QString &path, const char *data, qint64 size)
    {
        const QString directory = QFileInfo(path).absolutePath();
        QDir().mkpath(directory);
        QSaveFile file(path); // temporary file, fdatasync, rename
        if (!file.open(QIODevice::WriteOnly) || file.write(data, size) != size || !file.commit())
            return false;
        syncDirectory(directory);
        return true;
    }

    void appendRecords(std::string &out, bool &first, const SignalBatch &records)
    {
        for (const auto &record : records) {
            if (!first)
                out.push_back(',');
            first = false;
            appendCacheRecord(out, record);
        }
    }
} // namespace

SignalCache::SignalCache(std::optional<LogHandler> logHandler, Options options)
    : m_logHandler(std::move(logHandler))
    , m_options(std::move(options))
{
    if (!m_options.filePath.isEmpty()) {
        m_writer = std::make_unique<CacheWriter>(
            [this] {
                std::lock_guard<std::mutex> file(m_fileMutex);
                if (m_loaded) // never over a file not read yet
                    writeFile(LogLevel::debug);
            },
            m_options.writeInterval);
    }
}

SignalCache::SignalCache(std::optional<LogHandler> logHandler, const QString &filePath)
    : SignalCache(std::move(logHandler), Options { filePath, QString(), QString() })
{ }

SignalCache::~SignalCache()
{
    if (!m_options.filePath.isEmpty()) {
        std::lock_guard<std::mutex> file(m_fileMutex);
        bool holdsRecords = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            holdsRecords = !m_pending.empty() || !m_inFlight.empty();
        }
        // Gone before the file was read (a very short run): merge with it rather than lose these.
        if (!m_loaded && holdsRecords) {
            m_loaded = true;
            writeFile(LogLevel::debug);
        }
    }
    m_writer.reset(); // writes what is still pending
}

std::shared_ptr<SignalCache> SignalCache::shared(std::optional<LogHandler> logHandler, Options options)
{
    if (options.filePath.isEmpty())
        return std::make_shared<SignalCache>(std::move(logHandler), std::move(options));
    static std::mutex mutex;
    static auto *caches = new std::map<QString, std::weak_ptr<SignalCache>>; // outlives exit
    std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(*caches, [](const auto &entry) { return entry.second.expired(); });
    std::weak_ptr<SignalCache> &slot = (*caches)[options.filePath];
    if (auto existing = slot.lock())
        return existing;
    auto cache = std::make_shared<SignalCache>(std::move(logHandler), std::move(options));
    slot = cache;
    return cache;
}

QString SignalCache::filePath(const QString &telemetryAppID, const QString &cacheDirectory)
{
    const QString root = cacheDirectory.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        : cacheDirectory;
    return root + QStringLiteral("/cairn/") + ClientDefaults::suiteName(telemetryAppID)
        + QStringLiteral(".telemetrysignalcache");
}

QString SignalCache::legacyFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/telemetrysignalcache");
}

void SignalCache::log(LogLevel level, const QString &message) const
{
    if (m_logHandler)
        m_logHandler->log(level, message);
}

void SignalCache::changed()
{
    if (m_writer)
        m_writer->markDirty();
}

void SignalCache::load()
{
    if (m_options.filePath.isEmpty())
        return;
    std::lock_guard<std::mutex> file(m_fileMutex);
    if (m_loaded)
        return;
    m_loaded = true;
    log(LogLevel::info,
        QStringLiteral("Loading Telemetry cache from: ")
            + QUrl::fromLocalFile(m_options.filePath).toString());
    if (!takeFile()) {
        log(LogLevel::info,
            QStringLiteral("Telemetry cache is in use by another process; signals are kept in memory"));
        return;
    }
    adoptFile();
}

bool SignalCache::takeFile()
{
    if (m_ownsFile)
        return true;
    if (!m_fileLock) {
        QDir().mkpath(QFileInfo(m_options.filePath).absolutePath());
        m_fileLock = std::make_unique<QLockFile>(m_options.filePath + QStringLiteral(".lock"));
        m_fileLock->setStaleLockTime(0); // stale only when its process is gone
    }
    m_ownsFile = m_fileLock->tryLock(0);
    return m_ownsFile;
}

SignalCache::FileState SignalCache::readFile(const QString &path, SignalBatch *records) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileState::missing;
    if (file.size() > maximumFileSize)
        return FileState::tooLarge;
    const QByteArray bytes = file.read(maximumFileSize + 1);
    if (bytes.size() > maximumFileSize)
        return FileState::tooLarge;
    auto decoded = decodeCacheFile(bytes);
    if (!decoded)
        return FileState::unreadable;
    *records = std::move(*decoded);
    return FileState::read;
}

void SignalCache::adoptFile()
{
    SignalBatch records;
    switch (readFile(m_options.filePath, &records)) {
    case FileState::missing:
        break;
    case FileState::read:
        log(LogLevel::info, QStringLiteral("Loaded %1 signals").arg(records.size()));
        break;
    case FileState::unreadable:
        // Not read again: the next write replaces it.
        QFile::remove(m_options.filePath);
        log(LogLevel::error, QStringLiteral("Telemetry cache file is unreadable; it was removed"));
        log(LogLevel::info, QStringLiteral("Loaded 0 signals"));
        break;
    case FileState::tooLarge:
        QFile::remove(m_options.filePath);
        log(LogLevel::error,
            QStringLiteral("Telemetry cache file is larger than %1 MB; it was removed")
                .arg(maximumFileSize / (1024 * 1024)));
        break;
    }
    const size_t fromFile = records.size();
    moveLegacyRecords(&records);
    const bool moved = records.size() > fromFile;

    bool queuedMeanwhile = false;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queuedMeanwhile = !m_pending.empty();
        // What the file held is older than anything queued since the start.
        m_pending.insert(m_pending.begin(), std::make_move_iterator(records.begin()),
            std::make_move_iterator(records.end()));
        dropped = dropOldestBeyondLimit();
    }
    if (dropped)
        log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(dropped));
    if (queuedMeanwhile || dropped)
        changed();
    if (!moved)
        return;

    // Ours first, durably; only then are they taken out of the shared file.
    if (!writeFile(LogLevel::debug))
        return;
    SignalBatch legacy;
    if (readFile(m_options.legacyFilePath, &legacy) != FileState::read)
        return;
    std::erase_if(legacy, [this](const SignalPostBody &record) { return record.appID == m_options.appID; });
    if (legacy.empty()) {
        QFile::remove(m_options.legacyFilePath);
    } else {
        const QByteArray rest = encodeCacheFile(legacy);
        writeAtomically(m_options.legacyFilePath, rest.constData(), rest.size());
    }
}

void SignalCache::moveLegacyRecords(SignalBatch *records)
{
    if (m_options.legacyFilePath.isEmpty() || m_options.appID.isEmpty())
        return;
    SignalBatch legacy;
    if (readFile(m_options.legacyFilePath, &legacy) != FileState::read)
        return; // missing, or not ours to judge
    SignalBatch own;
    for (auto &record : legacy) {
        if (record.appID == m_options.appID)
            own.push_back(std::move(record));
    }
    if (own.empty())
        return;
    log(LogLevel::info,
        QStringLiteral("Moved %1 signals from %2 to %3")
            .arg(own.size())
            .arg(m_options.legacyFilePath, m_options.filePath));
    // The old file's records are older still.
    records->insert(
        records->begin(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
}

void SignalCache::push(SignalPostBody record)
{
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(std::move(record));
        dropped = dropOldestBeyondLimit();
    }
    if (dropped)
        log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(dropped));
    changed();
}

void SignalCache::push(SignalBatch records)
{
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &record : records)
            m_pending.push_back(std::move(record));
        dropped = dropOldestBeyondLimit();
    }
    if (dropped)
        log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(dropped));
    changed();
}

size_t SignalCache::dropOldestBeyondLimit()
{
    if (m_pending.size() <= maximumNumberOfCachedSignals)
        return 0;
    const size_t excess = m_pending.size() - maximumNumberOfCachedSignals;
    // By time, not position: a batch put back sits behind newer records. Among equal times
    // the earlier position goes first.
    if (excess == 1) {
        m_pending.erase(std::min_element(m_pending.begin(), m_pending.end(),
            [](const SignalPostBody &a, const SignalPostBody &b) { return a.receivedAt < b.receivedAt; }));
        return 1;
    }
    std::vector<qint64> times;
    times.reserve(m_pending.size());
    for (const auto &record : m_pending)
        times.push_back(record.receivedAt.toMSecsSinceEpoch());
    std::nth_element(times.begin(), times.begin() + std::ptrdiff_t(excess - 1), times.end());
    const qint64 threshold = times[excess - 1];
    size_t atThreshold = excess
        - size_t(std::count_if(m_pending.begin(), m_pending.end(),
            [threshold](const SignalPostBody &r) { return r.receivedAt.toMSecsSinceEpoch() < threshold; }));
    std::deque<SignalPostBody> kept;
    for (auto &record : m_pending) {
        const qint64 t = record.receivedAt.toMSecsSinceEpoch();
        if (t < threshold)
            continue;
        if (t == threshold && atThreshold > 0) {
            --atThreshold;
            continue;
        }
        kept.push_back(std::move(record));
    }
    m_pending.swap(kept);
    return excess;
}

SignalBatch SignalCache::pop()
{
    SignalBatch batch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t n = std::min(m_pending.size(), size_t(maximumNumberOfSignalsToPopAtOnce));
        batch.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            batch.push_back(std::move(m_pending.front()));
            m_pending.pop_front();
        }
    }
    if (!batch.empty())
        changed();
    return batch;
}

quint64 SignalCache::checkOut(SignalBatch *batch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t n = std::min(m_pending.size(), size_t(maximumNumberOfSignalsToPopAtOnce));
    if (n == 0)
        return 0;
    SignalBatch records(std::make_move_iterator(m_pending.begin()),
        std::make_move_iterator(m_pending.begin() + std::ptrdiff_t(n)));
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(n));
    *batch = records;
    const quint64 id = m_nextID++;
    m_inFlightRecords += int(n);
    m_inFlight.emplace(id, std::move(records));
    // The file's content is unchanged: checked-out records stay in it.
    return id;
}

std::optional<SignalBatch> SignalCache::settle(quint64 id)
{
    std::optional<SignalBatch> records;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_inFlight.find(id);
        if (it == m_inFlight.end())
            return std::nullopt;
        records = std::move(it->second);
        m_inFlightRecords -= int(records->size());
        m_inFlight.erase(it);
    }
    m_inFlightChanged.notify_all();
    changed();
    return records;
}

bool SignalCache::putBack(quint64 id)
{
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_inFlight.find(id);
        if (it == m_inFlight.end())
            return false;
        m_inFlightRecords -= int(it->second.size());
        for (auto &record : it->second)
            m_pending.push_back(std::move(record));
        m_inFlight.erase(it);
        dropped = dropOldestBeyondLimit();
    }
    if (dropped)
        log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(dropped));
    m_inFlightChanged.notify_all();
    changed();
    return true;
}

std::vector<std::pair<quint64, SignalBatch>> SignalCache::split(quint64 id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_inFlight.find(id);
    if (it == m_inFlight.end() || it->second.size() < 2)
        return {};
    SignalBatch whole = std::move(it->second);
    m_inFlight.erase(it);
    const auto middle = whole.begin() + std::ptrdiff_t(whole.size() / 2);
    std::vector<std::pair<quint64, SignalBatch>> halves;
    halves.emplace_back(m_nextID++, SignalBatch(whole.begin(), middle));
    halves.emplace_back(m_nextID++, SignalBatch(middle, whole.end()));
    for (const auto &[halfID, records] : halves)
        m_inFlight.emplace(halfID, records);
    return halves;
}

int SignalCache::putBackAll()
{
    int records = 0;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &[id, batch] : m_inFlight) {
            records += int(batch.size());
            for (auto &record : batch)
                m_pending.push_back(std::move(record));
        }
        m_inFlight.clear();
        m_inFlightRecords = 0;
        dropped = dropOldestBeyondLimit();
    }
    if (dropped)
        log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(dropped));
    m_inFlightChanged.notify_all();
    if (records)
        changed();
    return records;
}

bool SignalCache::waitUntilNothingInFlight(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_inFlightChanged.wait_for(lock, timeout, [this] { return m_inFlight.empty(); });
}

int SignalCache::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_pending.size());
}

int SignalCache::inFlightCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlightRecords;
}

SignalBatch SignalCache::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return SignalBatch(m_pending.begin(), m_pending.end());
}

bool SignalCache::saveCache(LogLevel level)
{
    if (m_options.filePath.isEmpty())
        return false;
    std::lock_guard<std::mutex> file(m_fileMutex);
    m_loaded = true; // whatever the file held is merged in by writeFile
    const bool saved = writeFile(level);
    if (saved && m_writer)
        m_writer->discardPending();
    return saved;
}

void SignalCache::waitForFileWrites()
{
    if (m_writer)
        m_writer->waitForIdle();
}

bool SignalCache::writeFile(LogLevel level)
{
    if (!m_ownsFile) {
        // Another process of this app had the file; once it is gone, its records join ours.
        if (!takeFile()) {
            if (level != LogLevel::debug)
                log(LogLevel::error, QStringLiteral("Error saving Telemetry cache"));
            return false;
        }
        adoptFile();
    }
    std::string bytes;
    int records = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        records = int(m_pending.size()) + m_inFlightRecords;
        bytes.reserve(size_t(records) * 2600 + 2);
        bytes.push_back('[');
        bool first = true;
        for (const auto &[id, batch] : m_inFlight)
            appendRecords(bytes, first, batch);
        for (const auto &record : m_pending) {
            if (!first)
                bytes.push_back(',');
            first = false;
            appendCacheRecord(bytes, record);
        }
        bytes.push_back(']');
    }
    if (!writeAtomically(m_options.filePath, bytes.data(), qint64(bytes.size()))) {
        log(LogLevel::error, QStringLiteral("Error saving Telemetry cache"));
        return false;
    }
    log(level, QStringLiteral("Saved Telemetry cache %1 bytes of %2 signals").arg(bytes.size()).arg(records));
    return true;
}

} // namespace Cairn
