#pragma once

#include "InstallTarget.h"
#include "UpdateArchive.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Replaces the running program with a verified update, and cleans up after an install that
// was interrupted. Everything that touches the disk here blocks: run it on a worker thread.
//
// Beside a portable folder "Bramble" the installer keeps, on the same file system:
//   .Bramble.update/   the download and its unpacked copy (ours alone, removed whole)
//   .Bramble.next/     the new release, moments before it takes the folder's place
//   .Bramble.old-*/    the replaced release, until its listed files are deleted
namespace UpdateInstaller {
// The one folder a portable release archive holds.
inline constexpr const char *kReleaseFolder = "Bramble";

using Result = UpdateArchive::Result;

// Empty when the target can be replaced; otherwise why not, for the user. For a portable
// folder this reads its marker and walks it.
QString checkInstallable(const InstallTarget &target);
// A hidden sibling of the target, so that the final renames stay on one file system.
QString stagingFolder(const InstallTarget &target);
// Creates an empty staging folder; empty error on success.
QString prepareStagingFolder(const InstallTarget &target);
void removeStagingFolder(const InstallTarget &target);
// Bytes free to an unprivileged user on the file system of folder (statvfs, which also
// answers inside containers); none when it cannot be read.
std::optional<qint64> freeSpace(const QString &folder);

struct InstallOptions
{
    // Called at each step of the switch, by name; lets tests interrupt it there.
    std::function<void(const char *step)> checkpoint;
    // Where the file system can swap two folders in one step, do so.
    bool atomicSwap = true;
};

// Swaps the staged update in: a downloaded AppImage file, or a staging folder holding the
// release folder unpacked from a portable archive. The replaced portable release is then
// deleted file by file as its marker lists them; nothing else is ever deleted.
Result install(const InstallTarget &target, const QString &stagedPath, const InstallOptions &options = {});

struct Recovery
{
    // An old copy was put back where the program was missing.
    QString restoredFrom;
    // Leftover copies that could not be removed whole.
    QStringList kept;
};
// Puts back an old copy that an interrupted install left with no program in place, then,
// with a program in place, removes leftover copies (as their markers list them) and, when
// asked, the staging folder.
Recovery recoverInterruptedInstall(const InstallTarget &target, bool removeStaging);
} // namespace UpdateInstaller
