#include "UpdateRelaunch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <cstdio>

namespace {
constexpr const char *kWaitVariable = "BRAMBLE_REPLACES_PID";
}

bool UpdateRelaunch::startReplacement(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        QString::fromLatin1(kWaitVariable), QString::number(QCoreApplication::applicationPid()));
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

bool UpdateRelaunch::relaunchAndQuit(const QString &program, const QStringList &arguments)
{
    if (!startReplacement(program, arguments)) {
        std::fputs(
            QStringLiteral("❌ Could not start the updated program: %1\n").arg(program).toUtf8().constData(),
            stdout);
        std::fflush(stdout);
        return false;
    }
    QCoreApplication::quit();
    return true;
}

void UpdateRelaunch::waitForReplacedProcess(int timeoutMs)
{
    const QByteArray pid = qgetenv(kWaitVariable);
    qunsetenv(kWaitVariable);
    if (pid.isEmpty() || pid.toLongLong() <= 0)
        return;
    // Runs before the event loop exists, so a short polling wait blocks nothing else.
    const QString procEntry = QStringLiteral("/proc/") + QString::fromLatin1(pid);
    QDeadlineTimer deadline(timeoutMs);
    while (QFileInfo::exists(procEntry) && !deadline.hasExpired())
        QThread::msleep(50);
}
