#pragma once

#include "AppcastItem.h"

#include <QString>
#include <QStringList>

// Where the running program lives and how it can be replaced.
struct InstallTarget
{
    enum class Kind { Portable, AppImage };
    Kind kind = Kind::Portable;
    // The program's folder (portable) or the AppImage file.
    QString path;
    // Portable only: the program inside the folder, relative to it.
    QString executable;

    // From APPIMAGE, else the folder of the running executable.
    static InstallTarget detect();
    AppcastItem::ArchiveKind archiveKind() const;
    // What to start after a successful installation.
    QString relaunchProgram() const;
};

namespace UpdateInstaller {
// Empty when the target can be replaced; otherwise why not, for the user.
QString checkInstallable(const InstallTarget &target);
// A hidden sibling of the target, so that the final renames stay on one file system.
QString stagingFolder(const InstallTarget &target);
// Creates an empty staging folder; empty error on success.
QString prepareStagingFolder(const InstallTarget &target);
void removeStagingFolder(const InstallTarget &target);

struct Result
{
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Unpacks a .tar.gz into an empty folder, refusing entries that would land outside it,
// links that point outside it, and anything but folders, files and relative links.
// Blocking: run it on a worker thread.
Result extractArchive(const QString &archivePath, const QString &destination);

// Swaps the staged update in (a downloaded AppImage file, or a folder extracted from a
// portable archive). The old copy is kept until the new one is in place and put back on
// any failure. Blocking: run it on a worker thread.
Result install(const InstallTarget &target, const QString &stagedPath);
} // namespace UpdateInstaller
