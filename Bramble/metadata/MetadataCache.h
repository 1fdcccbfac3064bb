#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

struct CachedMetadata
{
    std::optional<QString> title;
    std::optional<QString> summary;
    std::optional<QByteArray> iconData;
    QDateTime timestamp;
    bool summaryFromPage = false;
};

// Remembers fetch results for an hour, keyed by the address text exactly as fetched.
// Safe to use from any thread; every access is serialised.
class MetadataCache
{
public:
    static constexpr qint64 lifetimeSeconds = 3600;
    using Clock = std::function<QDateTime()>;

    MetadataCache();
    static MetadataCache &shared();

    // Absent when there is no entry or it is older than an hour (the stale entry is dropped).
    std::optional<CachedMetadata> lookup(const QString &key);
    // Inserts or replaces; the caller sets the timestamp (see now()).
    void store(const QString &key, const CachedMetadata &entry);
    // Drops the entry under key, so that the next fetch of it goes to the network.
    void remove(const QString &key);

    // Tests move time with their own clock; null restores the system clock.
    void setClock(Clock clock);
    QDateTime now() const;

    int count() const;
    bool contains(const QString &key) const;
    void clear();

private:
    mutable QMutex m_mutex;
    QHash<QString, CachedMetadata> m_cache;
    Clock m_clock;
};
