#include "MetadataCache.h"

#include <QMutexLocker>

MetadataCache::MetadataCache() = default;

MetadataCache &MetadataCache::shared()
{
    static MetadataCache *instance = new MetadataCache; // never destroyed: fetches may outlive main()
    return *instance;
}

std::optional<CachedMetadata> MetadataCache::lookup(const QString &key)
{
    const QDateTime current = now();
    QMutexLocker locker(&m_mutex);
    if (m_cache.isEmpty())
        return std::nullopt;
    const auto it = m_cache.constFind(key);
    if (it == m_cache.constEnd())
        return std::nullopt;
    // Exactly one hour old still counts as fresh.
    if (it->timestamp.msecsTo(current) > lifetimeSeconds * 1000) {
        m_cache.erase(it);
        return std::nullopt;
    }
    return *it;
}

void MetadataCache::store(const QString &key, const CachedMetadata &entry)
{
    QMutexLocker locker(&m_mutex);
    m_cache.insert(key, entry);
}

void MetadataCache::setClock(Clock clock)
{
    QMutexLocker locker(&m_mutex);
    m_clock = std::move(clock);
}

QDateTime MetadataCache::now() const
{
    Clock clock;
    {
        QMutexLocker locker(&m_mutex);
        clock = m_clock;
    }
    return clock ? clock() : QDateTime::currentDateTimeUtc();
}

int MetadataCache::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_cache.size());
}

bool MetadataCache::contains(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    return m_cache.contains(key);
}

void MetadataCache::remove(const QString &key)
{
    QMutexLocker locker(&m_mutex);
    m_cache.remove(key);
}

void MetadataCache::clear()
{
    QMutexLocker locker(&m_mutex);
    m_cache.clear();
}
