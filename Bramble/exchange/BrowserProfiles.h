#pragma once

#include "BookmarkFileReader.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One installed browser profile whose bookmarks Bramble can import.
struct BrowserProfile
{
    // "firefox", "chromium", "chrome", "brave", "vivaldi" or "edge": the --from names.
    QString browser;
    // "Firefox", "Chromium", "Google Chrome", "Brave", "Vivaldi", "Microsoft Edge".
    QString browserName;
    // The name the browser shows: Firefox's profiles.ini name, Chromium's "Local State" name,
    // else the profile's folder name.
    QString profileName;
    // The profile's folder name ("Default", "Profile 1", "abcd1234.default-release").
    QString folderName;
    // Empty for the browser's own package, else "Flatpak" or "Snap".
    QString installation;
    // places.sqlite or Bookmarks.
    QString bookmarksPath;
    // The profile the browser starts with.
    bool isDefault = false;
    // Web links the profile holds; -1 when not counted or unreadable.
    int linkCount = -1;

    // "Firefox · default-release (Flatpak)".
    QString displayName() const;
};

// Finds the browsers' profiles in their usual places below HOME and XDG_CONFIG_HOME: the
// browsers' own packages, Flatpak (~/.var/app/<id>/…) and Snap (~/snap/<name>/…). Reads
// files only; callable on a worker thread.
class BrowserProfiles
{
public:
    static QStringList browserIds();
    static bool isKnownBrowser(const QString &id) { return browserIds().contains(id); }
    static QString browserName(const QString &id);

    // Every profile found, browser by browser in the order of browserIds(), the browser's own
    // package first, then Flatpak, then Snap, and the default profile first. With countLinks,
    // each profile's bookmarks are read to count them (Firefox's through a private copy).
    static QList<BrowserProfile> find(const QString &browser = {}, bool countLinks = false);

    // The profile of browser named profileName (its shown or folder name, in any letter
    // case), or with no name the browser's default one. Sets error to a message naming what
    // was found when nothing fits ("No Firefox profile was found.").
    static std::optional<BrowserProfile> choose(const QList<BrowserProfile> &profiles, const QString &browser,
        const QString &profileName, QString *error);

    static BookmarkReadResult read(const BrowserProfile &profile)
    {
        return BookmarkFileReader::readFile(profile.bookmarksPath);
    }
};
