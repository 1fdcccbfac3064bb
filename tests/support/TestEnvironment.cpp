#include "TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

namespace {
QTemporaryDir *g_root = nullptr;

void removeRoot()
{
    delete g_root;
    g_root = nullptr;
}
} // namespace

QString TestEnvironment::isolate()
{
    if (!g_root) {
        g_root = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/bramble-test-XXXXXX"));
        std::atexit(removeRoot);
    }
    const QString base = g_root->path();
    const auto set = [&](const char *name, const QString &sub) {
        const QString path = base + sub;
        QDir().mkpath(path);
        qputenv(name, path.toLocal8Bit());
    };
    set("HOME", QString());
    set("XDG_DATA_HOME", QStringLiteral("/.local/share"));
    set("XDG_CONFIG_HOME", QStringLiteral("/.config"));
    set("XDG_CACHE_HOME", QStringLiteral("/.cache"));
    set("XDG_STATE_HOME", QStringLiteral("/.local/state"));
    set("XDG_RUNTIME_DIR", QStringLiteral("/runtime"));
    QFile::setPermissions(
        base + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Tests must never reach a real analytics service or update feed: whatever a test (or a
    // program it starts) does not point elsewhere goes to a closed port on loopback.
    qputenv("DO_NOT_TRACK", "1");
    qputenv("BRAMBLE_TELEMETRY_URL", "http://127.0.0.1:9");
    qputenv("BRAMBLE_UPDATE_FEED_URL", "http://127.0.0.1:9/updates/");
    return base;
}

QString TestEnvironment::root()
{
    return g_root ? g_root->path() : QString();
}
