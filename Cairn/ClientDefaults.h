#pragma once

#include <QMutex>
#include <QString>
#include <QVariant>
#include <memory>

namespace Cairn {

class GuardedSettings;

// The client's private user-defaults suite: a QSettings INI file named after the suite
// ("com.cairn." + first 12 hex digits of sha256Hex(appID)) in the XDG config directory.
// Every access is serialised by one mutex, so it may be used from any thread. The file is
// opened on first use and written only when a value is set.
class ClientDefaults
{
public:
    explicit ClientDefaults(const QString &telemetryAppID);
    ~ClientDefaults();
    ClientDefaults(const ClientDefaults &) = delete;
    ClientDefaults &operator=(const ClientDefaults &) = delete;

    static QString suiteName(const QString &telemetryAppID);
    static QString filePath(const QString &telemetryAppID);

    QString suiteName() const { return m_suiteName; }
    QString filePath() const { return m_filePath; }

    QVariant value(const QString &key) const;
    // Stores and writes the file at once.
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

private:
    GuardedSettings &settings() const;

    const QString m_suiteName;
    const QString m_filePath;
    mutable QMutex m_mutex;
    mutable std::unique_ptr<GuardedSettings> m_settings;
};

} // namespace Cairn
