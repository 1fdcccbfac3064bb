#pragma once

#include "AppcastItem.h"

#include <QString>

// Where the running program lives and how it can be replaced.
struct InstallTarget
{
    enum class Kind { Portable, AppImage };
    Kind kind = Kind::Portable;
    // The program's folder (portable) or the AppImage file.
    QString path;
    // Portable only: the program inside the folder, relative to it.
    QString executable;

    // What the process was started with.
    struct Environment
    {
        // APPIMAGE and APPDIR as the AppImage runtime sets them.
        QString appImage;
        QString appDir;
        // The running program, resolved (/proc/self/exe).
        QString executablePath;
        static Environment current();
    };

    // The AppImage named by APPIMAGE when the running program was mounted from it, else
    // the folder of the running executable. Whether that folder may be replaced is for
    // UpdateInstaller::checkInstallable to say.
    static InstallTarget detect();
    static InstallTarget detect(const Environment &environment);
    AppcastItem::ArchiveKind archiveKind() const;
    // What to start after a successful installation.
    QString relaunchProgram() const;
};
