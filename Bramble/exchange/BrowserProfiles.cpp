#include "BrowserProfiles.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <nlohmann/json.hpp>

namespace {

struct Browser
{
    const char *id;
    const char *name;
    // User-data folders below the config folder.
    QStringList configFolders;
    const char *flatpakId;
    const char *snapName;
};

const std::vector<Browser> &chromiumFamily()
{
    static const std::vector<Browser> browsers = {
        { "chromium", "Chromium", { QStringLiteral("chromium") }, "org.chromium.Chromium", "chromium" },
        { "chrome", "Google Chrome",
            { QStringLiteral("google-chrome"), QStringLiteral("google-chrome-beta"),
                QStringLiteral("google-chrome-unstable") },
            "com.google.Chrome", "google-chrome" },
        { "brave", "Brave", { QStringLiteral("BraveSoftware/Brave-Browser") }, "com.brave.Browser", "brave" },
        { "vivaldi", "Vivaldi", { QStringLiteral("vivaldi"), QStringLiteral("vivaldi-snapshot") },
            "com.vivaldi.Vivaldi", "vivaldi" },
        { "edge", "Microsoft Edge",
            { QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-beta"),
                QStringLiteral("microsoft-edge-dev") },
            "com.microsoft.Edge", "microsoft-edge" },
    };
    return browsers;
}

QString homeFolder()
{
    return QDir::homePath();
}

QString configFolder()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    return QDir::isAbsolutePath(config) ? config : homeFolder() + QStringLiteral("/.config");
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.read(16 * 1024 * 1024);
}

// profiles.ini is read by hand: QSettings would take commas in a name for a list and a
// backslash for an escape.
QList<QPair<QString, QHash<QString, QString>>> readIni(const QString &path)
{
    QList<QPair<QString, QHash<QString, QString>>> sections;
    for (const QByteArray &rawLine : readSmallFile(path).split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections.append({ line.mid(1, line.size() - 2), {} });
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && !sections.isEmpty())
            sections.last().second.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return sections;
}

struct Place
{
    QString folder;
    QString installation;
};

QList<BrowserProfile> firefoxProfiles(const Place &place)
{
    QList<BrowserProfile> profiles;
    const QString iniPath = place.folder + QStringLiteral("/profiles.ini");
    const auto sections = readIni(iniPath);
    QSet<QString> installDefaults;
    for (const auto &[name, values] : sections) {
        if (name.startsWith(QLatin1String("Install")) && values.contains(QStringLiteral("Default")))
            installDefaults.insert(values.value(QStringLiteral("Default")));
    }
    for (const auto &[name, values] : sections) {
        if (!name.startsWith(QLatin1String("Profile")) || !values.contains(QStringLiteral("Path")))
            continue;
        const QString path = values.value(QStringLiteral("Path"));
        const bool relative
            = values.value(QStringLiteral("IsRelative"), QStringLiteral("1")) == QLatin1String("1");
        const QString folder = relative ? place.folder + QLatin1Char('/') + path : path;
        const QString places = folder + QStringLiteral("/places.sqlite");
        if (!QFileInfo(places).isFile())
            continue;
        BrowserProfile profile;
        profile.browser = QStringLiteral("firefox");
        profile.browserName = QStringLiteral("Firefox");
        profile.folderName = QFileInfo(folder).fileName();
        profile.profileName = values.value(QStringLiteral("Name"), profile.folderName);
        profile.installation = place.installation;
        profile.bookmarksPath = places;
        profile.isDefault = installDefaults.isEmpty()
            ? values.value(QStringLiteral("Default")) == QLatin1String("1")
            : installDefaults.contains(path);
        profiles.append(profile);
    }
    return profiles;
}

// Names by profile folder from "Local State", and the last used one.
QHash<QString, QString> chromiumProfileNames(const QString &userData, QString *lastUsed)
{
    QHash<QString, QString> names;
    const QByteArray contents = readSmallFile(userData + QStringLiteral("/Local State"));
    if (contents.isEmpty())
        return names;
    const auto root = nlohmann::json::parse(contents.constBegin(), contents.constEnd(), nullptr, false);
    if (!root.is_object())
        return names;
    const auto profile = root.find("profile");
    if (profile == root.end() || !profile->is_object())
        return names;
    const auto last = profile->find("last_used");
    if (last != profile->end() && last->is_string())
        *lastUsed = QString::fromStdString(last->get<std::string>());
    const auto cache = profile->find("info_cache");
    if (cache == profile->end() || !cache->is_object())
        return names;
    for (auto it = cache->begin(); it != cache->end(); ++it) {
        if (!it.value().is_object())
            continue;
        const auto name = it.value().find("name");
        if (name != it.value().end() && name->is_string() && !name->get_ref<const std::string &>().empty())
            names.insert(QString::fromStdString(it.key()), QString::fromStdString(name->get<std::string>()));
    }
    return names;
}

QList<BrowserProfile> chromiumProfiles(const Browser &browser, const Place &place)
{
    QList<BrowserProfile> profiles;
    const QDir userData(place.folder);
    if (!userData.exists())
        return profiles;
    QString lastUsed;
    const QHash<QString, QString> names = chromiumProfileNames(place.folder, &lastUsed);
    QStringList folders = userData.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(folders.begin(), folders.end(), [&](const QString &a, const QString &b) {
        const bool aDefault = a == QLatin1String("Default"), bDefault = b == QLatin1String("Default");
        if (aDefault != bDefault)
            return aDefault;
        return collator.compare(a, b) < 0;
    });
    for (const QString &folder : std::as_const(folders)) {
        if (folder == QLatin1String("System Profile") || folder == QLatin1String("Guest Profile"))
            continue;
        const QString bookmarks = userData.filePath(folder + QStringLiteral("/Bookmarks"));
        if (!QFileInfo(bookmarks).isFile())
            continue;
        BrowserProfile profile;
        profile.browser = QString::fromLatin1(browser.id);
        profile.browserName = QString::fromUtf8(browser.name);
        profile.folderName = folder;
        profile.profileName = names.value(folder, folder);
        profile.installation = place.installation;
        profile.bookmarksPath = bookmarks;
        profile.isDefault = lastUsed.isEmpty() ? folder == QLatin1String("Default") : folder == lastUsed;
        profiles.append(profile);
    }
    return profiles;
}

QList<Place> firefoxPlaces()
{
    const QString home = homeFolder();
    const QString flatpak = home + QStringLiteral("/.var/app/org.mozilla.firefox");
    return {
        { home + QStringLiteral("/.mozilla/firefox"), QString() },
        { configFolder() + QStringLiteral("/mozilla/firefox"), QString() },
        { flatpak + QStringLiteral("/.mozilla/firefox"), QStringLiteral("Flatpak") },
        { flatpak + QStringLiteral("/config/mozilla/firefox"), QStringLiteral("Flatpak") },
        { home + QStringLiteral("/snap/firefox/common/.mozilla/firefox"), QStringLiteral("Snap") },
    };
}

QList<Place> chromiumPlaces(const Browser &browser)
{
    const QString home = homeFolder();
    QList<Place> places;
    for (const QString &folder : browser.configFolders)
        places.append({ configFolder() + QLatin1Char('/') + folder, QString() });
    for (const QString &folder : browser.configFolders)
        places.append({ home + QStringLiteral("/.var/app/") + QLatin1String(browser.flatpakId)
                + QStringLiteral("/config/") + folder,
            QStringLiteral("Flatpak") });
    const QString snap = home + QStringLiteral("/snap/") + QLatin1String(browser.snapName);
    for (const QString &folder : browser.configFolders) {
        places.append({ snap + QStringLiteral("/common/") + folder, QStringLiteral("Snap") });
        places.append({ snap + QStringLiteral("/common/.config/") + folder, QStringLiteral("Snap") });
        places.append({ snap + QStringLiteral("/current/.config/") + folder, QStringLiteral("Snap") });
    }
    return places;
}

// The profiles of one place: the default one first, the found order otherwise.
void putDefaultsFirst(QList<BrowserProfile> &profiles)
{
    std::stable_sort(profiles.begin(), profiles.end(),
        [](const BrowserProfile &a, const BrowserProfile &b) { return a.isDefault && !b.isDefault; });
}

} // namespace

QString BrowserProfile::displayName() const
{
    QString text = browserName + QStringLiteral(" · ") + profileName;
    if (!installation.isEmpty())
        text += QStringLiteral(" (") + installation + QLatin1Char(')');
    return text;
}

QStringList BrowserProfiles::browserIds()
{
    QStringList ids { QStringLiteral("firefox") };
    for (const Browser &browser : chromiumFamily())
        ids.append(QString::fromLatin1(browser.id));
    return ids;
}

QString BrowserProfiles::browserName(const QString &id)
{
    if (id == QLatin1String("firefox"))
        return QStringLiteral("Firefox");
    for (const Browser &browser : chromiumFamily()) {
        if (id == QLatin1String(browser.id))
            return QString::fromUtf8(browser.name);
    }
    return id;
}

QList<BrowserProfile> BrowserProfiles::find(const QString &browser, bool countLinks)
{
    QList<BrowserProfile> found;
    const auto addFrom = [&found](QList<BrowserProfile> profiles) {
        putDefaultsFirst(profiles);
        found.append(profiles);
    };
    if (browser.isEmpty() || browser == QLatin1String("firefox")) {
        for (const Place &place : firefoxPlaces())
            addFrom(firefoxProfiles(place));
    }
    for (const Browser &family : chromiumFamily()) {
        if (!browser.isEmpty() && browser != QLatin1String(family.id))
            continue;
        for (const Place &place : chromiumPlaces(family))
            addFrom(chromiumProfiles(family, place));
    }
    // One profile reached by two paths (a symbolic link, say) is listed once.
    QSet<QString> seen;
    QList<BrowserProfile> profiles;
    for (BrowserProfile &profile : found) {
        const QString canonical = QFileInfo(profile.bookmarksPath).canonicalFilePath();
        if (seen.contains(canonical))
            continue;
        seen.insert(canonical);
        if (countLinks) {
            const BookmarkReadResult read = BrowserProfiles::read(profile);
            profile.linkCount = read.bookmarks ? read.bookmarks->data.linkCount() : -1;
        }
        profiles.append(std::move(profile));
    }
    return profiles;
}

std::optional<BrowserProfile> BrowserProfiles::choose(
    const QList<BrowserProfile> &profiles, const QString &browser, const QString &profileName, QString *error)
{
    const auto failWith = [error](const QString &message) -> std::optional<BrowserProfile> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (!isKnownBrowser(browser))
        return failWith(QStringLiteral("Unknown browser “%1”; Bramble imports from %2.")
                            .arg(browser, browserIds().join(QStringLiteral(", "))));
    QList<BrowserProfile> ofBrowser;
    for (const BrowserProfile &profile : profiles) {
        if (profile.browser == browser)
            ofBrowser.append(profile);
    }
    if (ofBrowser.isEmpty())
        return failWith(QStringLiteral("No %1 profile was found.").arg(browserName(browser)));
    if (profileName.isEmpty()) {
        for (const BrowserProfile &profile : std::as_const(ofBrowser)) {
            if (profile.isDefault)
                return profile;
        }
        return ofBrowser.first();
    }
    for (const BrowserProfile &profile : std::as_const(ofBrowser)) {
        if (profile.profileName.compare(profileName, Qt::CaseInsensitive) == 0
            || profile.folderName.compare(profileName, Qt::CaseInsensitive) == 0)
            return profile;
    }
    QStringList names;
    for (const BrowserProfile &profile : std::as_const(ofBrowser))
        names.append(profile.profileName);
    return failWith(QStringLiteral("%1 has no profile named “%2”; found: %3.")
                        .arg(browserName(browser), profileName, names.join(QStringLiteral(", "))));
}
