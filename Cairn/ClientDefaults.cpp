#include "Cairn/ClientDefaults.h"

#include "Cairn/Hashing.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace Cairn {

// QSettings writes itself from the event loop of its thread when it has pending changes; that
// write would bypass our mutex. This subclass ignores that request: we sync explicitly, under
// the mutex, after every change.
class GuardedSettings : public QSettings
{
public:
    using QSettings::QSettings;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            return true;
        return QSettings::event(event);
    }
};

ClientDefaults::ClientDefaults(const QString &telemetryAppID)
    : m_suiteName(suiteName(telemetryAppID))
    , m_filePath(filePath(telemetryAppID))
{ }

ClientDefaults::~ClientDefaults()
{
    QMutexLocker locker(&m_mutex);
    m_settings.reset();
}

QString ClientDefaults::suiteName(const QString &telemetryAppID)
{
    return QStringLiteral("com.cairn.") + sha256Hex(telemetryAppID, QString()).left(12);
}

QString ClientDefaults::filePath(const QString &telemetryAppID)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + suiteName(telemetryAppID) + QStringLiteral(".conf");
}

GuardedSettings &ClientDefaults::settings() const
{
    if (!m_settings) {
        m_settings = std::make_unique<GuardedSettings>(m_filePath, QSettings::IniFormat);
        // Not bound to any thread's event loop.
        m_settings->moveToThread(nullptr);
    }
    return *m_settings;
}

QVariant ClientDefaults::value(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    return settings().value(key);
}

void ClientDefaults::setValue(const QString &key, const QVariant &value)
{
    QMutexLocker locker(&m_mutex);
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    settings().setValue(key, value);
    settings().sync();
}

void ClientDefaults::remove(const QString &key)
{
    QMutexLocker locker(&m_mutex);
    settings().remove(key);
    settings().sync();
}

} // namespace Cairn
