#include "Cairn/SignalCache.h"

#include "Cairn/ThreadAnnotations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace Cairn {

SignalCache::SignalCache(std::optional<LogHandler> logHandler, const QString &filePath)
    : m_logHandler(std::move(logHandler))
    , m_filePath(filePath)
{ }

QString SignalCache::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/telemetrysignalcache");
}

void SignalCache::log(LogLevel level, const QString &message) const
{
    if (m_logHandler)
        m_logHandler->log(level, message);
}

void SignalCache::load()
{
    Sync::WriteLocker locker(&m_lock);
    log(LogLevel::info,
        QStringLiteral("Loading Telemetry cache from: ") + QUrl::fromLocalFile(m_filePath).toString());
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    QFile::remove(m_filePath);
    auto records = decodeCacheFile(bytes);
    if (records) {
        for (auto &record : *records)
            m_cachedSignals.push_back(std::move(record));
    }
    log(LogLevel::info, QStringLiteral("Loaded %1 signals").arg(records ? records->size() : 0));
}

void SignalCache::push(SignalPostBody record)
{
    Sync::WriteLocker locker(&m_lock);
    m_cachedSignals.push_back(std::move(record));
    dropOldestBeyondLimit();
}

void SignalCache::push(SignalBatch records)
{
    Sync::WriteLocker locker(&m_lock);
    for (auto &record : records)
        m_cachedSignals.push_back(std::move(record));
    dropOldestBeyondLimit();
}

void SignalCache::dropOldestBeyondLimit()
{
    if (m_cachedSignals.size() <= maximumNumberOfCachedSignals)
        return;
    const size_t excess = m_cachedSignals.size() - maximumNumberOfCachedSignals;
    m_cachedSignals.erase(m_cachedSignals.begin(), m_cachedSignals.begin() + std::ptrdiff_t(excess));
    log(LogLevel::info, QStringLiteral("Signal cache full; dropped the %1 oldest records").arg(excess));
}

SignalBatch SignalCache::pop()
{
    Sync::WriteLocker locker(&m_lock);
    const size_t n = std::min(m_cachedSignals.size(), size_t(maximumNumberOfSignalsToPopAtOnce));
    SignalBatch batch;
    batch.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        batch.push_back(std::move(m_cachedSignals.front()));
        m_cachedSignals.pop_front();
    }
    return batch;
}

int SignalCache::count() const
{
    Sync::ReadLocker locker(&m_lock);
    return int(m_cachedSignals.size());
}

SignalBatch SignalCache::snapshot() const
{
    Sync::ReadLocker locker(&m_lock);
    return SignalBatch(m_cachedSignals.begin(), m_cachedSignals.end());
}

bool SignalCache::saveCache() const
{
    Sync::ReadLocker locker(&m_lock);
    std::string bytes;
    bytes.reserve(m_cachedSignals.size() * 2600 + 2);
    bytes.push_back('[');
    bool first = true;
    for (const auto &record : m_cachedSignals) {
        if (!first)
            bytes.push_back(',');
        first = false;
        appendCacheRecord(bytes, record);
    }
    bytes.push_back(']');
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit()) {
        log(LogLevel::error, QStringLiteral("Error saving Telemetry cache"));
        return false;
    }
    log(LogLevel::info,
        QStringLiteral("Saved Telemetry cache %1 bytes of %2 signals")
            .arg(bytes.size())
            .arg(m_cachedSignals.size()));
    return true;
}

} // namespace Cairn
