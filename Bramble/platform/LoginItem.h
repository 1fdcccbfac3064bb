#pragma once

#include <QString>

// Starting Bramble with the desktop session, through an XDG autostart entry.
// "Enabled" means the entry exists and is not hidden.
class LoginItem
{
public:
    // Where the entry lives: $XDG_CONFIG_HOME/autostart/bramble.desktop.
    static QString entryPath();
    static bool isEnabled();
    // Each returns false and sets error when the entry cannot be written or removed.
    static bool enable(QString *error = nullptr);
    static bool disable(QString *error = nullptr);
    // What the entry starts: the AppImage when running from one, else this executable.
    static QString launchCommand();
};
