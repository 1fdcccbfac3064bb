#pragma once

#include <QString>
#include <QStringList>

// Starting the new version after an update. The new process is told which process it
// replaces and waits for it to exit before taking the single-instance lock.
namespace UpdateRelaunch {
// Starts program detached; the caller quits right after. False when it could not start.
bool startReplacement(const QString &program, const QStringList &arguments);
// Starts the replacement and quits this process; on failure keeps running and says so.
bool relaunchAndQuit(const QString &program, const QStringList &arguments);
// Call first thing in main(): when started by startReplacement, waits (at most timeoutMs)
// until the old process has exited. Returns at once otherwise.
void waitForReplacedProcess(int timeoutMs = 10000);
} // namespace UpdateRelaunch
