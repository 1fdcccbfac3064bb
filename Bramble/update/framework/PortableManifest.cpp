#include "PortableManifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
constexpr const char *kHeader = "bramble-portable 1";
constexpr const char *kVersionPrefix = "version ";

bool lstatPath(const QString &path, struct stat *info)
{
    return ::lstat(QFile::encodeName(path).constData(), info) == 0;
}

bool isLink(const QString &path)
{
    struct stat info;
    return lstatPath(path, &info) && S_ISLNK(info.st_mode);
}

QString relativeTo(const QString &root, const QString &path)
{
    return path.mid(root.size() + 1);
}

// The target of the link at path, or a null array when path is not a link.
QByteArray readLink(const QString &path)
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    if (length < 0 || size_t(length) >= sizeof buffer)
        return QByteArray();
    return QByteArray(buffer, qsizetype(length));
}

} // namespace

bool PortableManifest::linkResolvesInside(
    const QString &root, const QString &linkRelative, const QString &target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    QStringList position = linkRelative.split(QLatin1Char('/'));
    position.removeLast();
    QStringList pending = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (position.isEmpty())
                return false;
            position.removeLast();
            continue;
        }
        position.append(part);
        const QByteArray link = readLink(root + QLatin1Char('/') + position.join(QLatin1Char('/')));
        if (link.isNull())
            continue;
        if (++hops > kMaxLinkHops || link.isEmpty() || link.startsWith('/'))
            return false;
        position.removeLast();
        pending = QString::fromUtf8(link).split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
    }
    return true;
}

QString PortableManifest::linkLeavingFolder(const QString &root)
{
    const QString base = QDir(root).absolutePath();
    QDirIterator it(base, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray link = readLink(path);
        if (link.isNull())
            continue;
        const QString relative = path.mid(base.size() + 1);
        if (!linkResolvesInside(base, relative, QString::fromUtf8(link)))
            return relative;
    }
    return QString();
}

bool PortableManifest::lessThan(const QString &left, const QString &right)
{
    return left.toUtf8() < right.toUtf8();
}

bool PortableManifest::isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.size() > kMaxPathLength || path == QLatin1String(kFileName))
        return false;
    for (const QChar c : path) {
        if (c == QChar(0) || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return false;
    }
    for (const QString &part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool PortableManifest::passesThroughLink(const QString &root, const QString &relative)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    QString path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts.at(i);
        if (isLink(path))
            return true;
    }
    return false;
}

std::optional<PortableManifest> PortableManifest::parse(const QByteArray &text, QString *error)
{
    const auto fail = [error](const QString &message) -> std::optional<PortableManifest> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (text.size() > kMaxSize)
        return fail(QStringLiteral("the marker is larger than %1 bytes").arg(kMaxSize));
    if (!text.endsWith('\n'))
        return fail(QStringLiteral("the marker does not end with a line end"));
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    if (lines.size() < 2 || lines.at(0) != kHeader)
        return fail(QStringLiteral("the first line is not \"%1\"").arg(QLatin1String(kHeader)));
    if (!lines.at(1).startsWith(kVersionPrefix) || lines.at(1).size() == qsizetype(qstrlen(kVersionPrefix)))
        return fail(QStringLiteral("the second line does not name the version"));
    if (lines.size() - 2 > kMaxFiles)
        return fail(QStringLiteral("the marker lists more than %1 files").arg(kMaxFiles));

    PortableManifest manifest;
    manifest.version = QString::fromUtf8(lines.at(1).mid(qsizetype(qstrlen(kVersionPrefix))));
    manifest.files.reserve(lines.size() - 2);
    QByteArray previous;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const QString path = QString::fromUtf8(line);
        if (path.toUtf8() != line || !isSafeRelativePath(path))
            return fail(QStringLiteral("line %1 is not a relative path inside the folder").arg(i + 1));
        if (i > 2 && !(previous < line))
            return fail(QStringLiteral("line %1 is out of order or repeated").arg(i + 1));
        previous = line;
        manifest.files.append(path);
    }
    return manifest;
}

std::optional<PortableManifest> PortableManifest::read(const QString &folder, QString *error)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(kFileName);
    struct stat info;
    if (!lstatPath(path, &info)) {
        if (error)
            *error = QStringLiteral("there is no %1").arg(QLatin1String(kFileName));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        if (error)
            *error = QStringLiteral("%1 is not a file").arg(QLatin1String(kFileName));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    // One byte more than allowed is enough to know it is too large.
    return parse(file.read(kMaxSize + 1), error);
}

QByteArray PortableManifest::serialize() const
{
    QByteArray text = QByteArray(kHeader) + '\n' + kVersionPrefix + version.toUtf8() + '\n';
    for (const QString &file : files)
        text += file.toUtf8() + '\n';
    return text;
}

bool PortableManifest::lists(const QString &relativePath) const
{
    const QByteArray key = relativePath.toUtf8();
    const auto found = std::lower_bound(files.cbegin(), files.cend(), key,
        [](const QString &file, const QByteArray &wanted) { return file.toUtf8() < wanted; });
    return found != files.cend() && *found == relativePath;
}

PortableManifest::Scan PortableManifest::scan(const QString &folder)
{
    Scan result;
    const QString root = QDir(folder).absolutePath();
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = relativeTo(root, path);
        if (relative == QLatin1String(kFileName))
            continue;
        struct stat info;
        if (!lstatPath(path, &info))
            continue;
        if (S_ISDIR(info.st_mode))
            continue;
        if (result.files.size() + result.others.size() >= kMaxFiles) {
            result.truncated = true;
            break;
        }
        if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
            result.files.append(relative);
        else
            result.others.append(relative);
    }
    std::sort(result.files.begin(), result.files.end(), lessThan);
    std::sort(result.others.begin(), result.others.end(), lessThan);
    return result;
}

std::optional<PortableManifest> PortableManifest::forFolder(
    const QString &folder, const QString &version, QString *error)
{
    const auto fail = [error](const QString &message) -> std::optional<PortableManifest> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (!QFileInfo(folder).isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(folder));
    if (version.isEmpty() || version.contains(QLatin1Char('\n')) || version.contains(QLatin1Char('\r')))
        return fail(QStringLiteral("the version must be one line of text"));
    const Scan found = scan(folder);
    if (found.truncated)
        return fail(QStringLiteral("the folder holds more than %1 files").arg(kMaxFiles));
    if (!found.others.isEmpty())
        return fail(QStringLiteral("%1 is neither a file nor a link").arg(found.others.first()));
    const QString root = QDir(folder).absolutePath();
    for (const QString &file : found.files) {
        if (!isSafeRelativePath(file))
            return fail(QStringLiteral("the name %1 cannot be listed").arg(file));
        struct stat info;
        if (lstatPath(root + QLatin1Char('/') + file, &info) && S_ISREG(info.st_mode) && info.st_nlink > 1)
            return fail(QStringLiteral("%1 has %2 hard links; tar would pack it as a hard link, which "
                                       "updates refuse - copy it instead")
                            .arg(file)
                            .arg(info.st_nlink));
    }
    PortableManifest manifest;
    manifest.version = version;
    manifest.files = found.files;
    return manifest;
}

QStringList PortableManifest::unlistedEntries(const QString &folder, qsizetype limit) const
{
    QStringList unlisted;
    const QString root = QDir(folder).absolutePath();
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext() && unlisted.size() < limit) {
        const QString path = it.next();
        const QString relative = relativeTo(root, path);
        struct stat info;
        if (relative == QLatin1String(kFileName) || !lstatPath(path, &info) || S_ISDIR(info.st_mode))
            continue;
        if (!(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) || !lists(relative))
            unlisted.append(relative);
    }
    return unlisted;
}

QStringList PortableManifest::missingFiles(const QString &folder, qsizetype limit) const
{
    QStringList missing;
    for (const QString &file : files) {
        struct stat info;
        if (!lstatPath(folder + QLatin1Char('/') + file, &info)
            || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
            missing.append(file);
            if (missing.size() >= limit)
                break;
        }
    }
    return missing;
}

bool PortableManifest::removeRelease(const QString &folder, QStringList *kept) const
{
    const QString root = QDir(folder).absolutePath();
    for (const QString &file : files) {
        if (!isSafeRelativePath(file) || passesThroughLink(root, file))
            continue;
        const QString path = root + QLatin1Char('/') + file;
        struct stat info;
        if (lstatPath(path, &info) && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
            QFile::remove(path);
    }
    QFile::remove(root + QLatin1Char('/') + QLatin1String(kFileName));

    // Deepest first, so that a folder emptied by its children goes too; rmdir refuses
    // anything that still holds an entry.
    QStringList folders;
    QDirIterator it(
        root, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isLink(path))
            folders.append(path);
    }
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    for (const QString &path : std::as_const(folders))
        QDir().rmdir(path);
    if (QDir().rmdir(root) || !QFileInfo::exists(root))
        return true;
    if (kept) {
        QDirIterator rest(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (rest.hasNext() && kept->size() < 5)
            kept->append(relativeTo(root, rest.next()));
    }
    return false;
}
