#include "UpdateArchive.h"

#include "PortableManifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>

namespace {
struct ArchiveCloser
{
    void operator()(struct archive *a) const { archive_read_free(a); }
};

// The entry name as a clean relative path, or empty when it must be refused.
QString safeRelativePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return QString();
    QStringList parts;
    for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return QString();
        parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

QFile::Permissions permissionsFromMode(mode_t mode)
{
    QFile::Permissions permissions
        = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    if (mode & 0100)
        permissions |= QFile::ExeOwner | QFile::ExeUser;
    if (mode & 0040)
        permissions |= QFile::ReadGroup;
    if (mode & 0010)
        permissions |= QFile::ExeGroup;
    if (mode & 0004)
        permissions |= QFile::ReadOther;
    if (mode & 0001)
        permissions |= QFile::ExeOther;
    return permissions;
}
} // namespace

UpdateArchive::Result UpdateArchive::extract(
    const QString &archivePath, const QString &destination, const QString &topFolder)
{
    Result result;
    const auto fail = [&](const QString &message) {
        result.error = message;
        return result;
    };
    const QString root = QDir(destination).absolutePath();
    if (QDir(root).exists()
        && !QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return fail(QStringLiteral("The folder %1 is not empty.").arg(root));
    if (!QDir().mkpath(root))
        return fail(QStringLiteral("The folder %1 could not be created.").arg(root));
    // Links are judged against the folder that becomes the program's folder.
    const QString linkRoot = topFolder.isEmpty() ? root : root + QLatin1Char('/') + topFolder;

    std::unique_ptr<struct archive, ArchiveCloser> reader(archive_read_new());
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_gnutar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 256 * 1024)
        != ARCHIVE_OK)
        return fail(QStringLiteral("The update archive could not be opened: %1")
                        .arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
    struct archive_entry *entry = nullptr;
    int count = 0;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return fail(QStringLiteral("The update archive is damaged: %1")
                            .arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
        const char *rawName = archive_entry_pathname(entry);
        const QString name = rawName ? QString::fromUtf8(rawName) : QString();
        const QString relative = safeRelativePath(name);
        if (relative.isEmpty()) {
            if (!name.isEmpty() && QDir::cleanPath(name) == QLatin1String("."))
                continue; // the archive's own "./"
            return fail(
                QStringLiteral("The update archive contains an entry outside its folder: %1").arg(name));
        }
        const mode_t type = archive_entry_filetype(entry);
        const mode_t mode = archive_entry_perm(entry);
        if (!topFolder.isEmpty()) {
            const bool isTop = relative == topFolder;
            if (!(isTop || relative.startsWith(topFolder + QLatin1Char('/'))) || (isTop && type != AE_IFDIR))
                return fail(QStringLiteral("The update archive holds %1 outside its one folder %2.")
                                .arg(name, topFolder));
        }
        const QString target = root + QLatin1Char('/') + relative;
        if (PortableManifest::passesThroughLink(root, relative))
            return fail(QStringLiteral("The update archive writes through a link: %1").arg(name));
        if (archive_entry_hardlink(entry))
            return fail(QStringLiteral("The update archive contains a hard link, which is not supported: %1")
                            .arg(name));
        struct stat existing;
        const bool exists = ::lstat(QFile::encodeName(target).constData(), &existing) == 0;
        if (exists && (S_ISLNK(existing.st_mode) || type != AE_IFDIR || !S_ISDIR(existing.st_mode)))
            return fail(QStringLiteral("The update archive contains %1 twice.").arg(name));
        ++count;
        if (type == AE_IFDIR) {
            if (!QDir().mkpath(target))
                return fail(QStringLiteral("The folder %1 could not be created.").arg(target));
            QFile::setPermissions(target, permissionsFromMode(mode) | QFile::ExeOwner | QFile::ExeUser);
        } else if (type == AE_IFREG) {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return fail(QStringLiteral("%1 could not be written: %2").arg(target, file.errorString()));
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            int read = ARCHIVE_OK;
            while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
                if (file.pos() != offset && !file.seek(offset))
                    return fail(QStringLiteral("%1 could not be written.").arg(target));
                if (file.write(static_cast<const char *>(block), qint64(size)) != qint64(size))
                    return fail(
                        QStringLiteral("%1 could not be written: %2").arg(target, file.errorString()));
            }
            if (read != ARCHIVE_EOF)
                return fail(QStringLiteral("The update archive is damaged: %1")
                                .arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
            file.close();
            file.setPermissions(permissionsFromMode(mode));
        } else if (type == AE_IFLNK) {
            const char *rawLink = archive_entry_symlink(entry);
            const QString link = rawLink ? QString::fromUtf8(rawLink) : QString();
            const QString linkRelative = topFolder.isEmpty() ? relative : relative.mid(topFolder.size() + 1);
            if (!PortableManifest::linkResolvesInside(linkRoot, linkRelative, link))
                return fail(
                    QStringLiteral("The update archive contains a link that points outside its folder: %1")
                        .arg(name));
            QDir().mkpath(QFileInfo(target).absolutePath());
            if (!QFile::link(link, target))
                return fail(QStringLiteral("The link %1 could not be created.").arg(target));
        } else {
            return fail(QStringLiteral("The update archive contains an unsupported entry: %1").arg(name));
        }
    }
    if (count == 0)
        return fail(QStringLiteral("The update archive is empty."));
    // A link made early may point elsewhere once later links exist: judge them all again.
    if (const QString leaving = PortableManifest::linkLeavingFolder(linkRoot); !leaving.isEmpty())
        return fail(QStringLiteral("The update archive contains a link that points outside its folder: %1")
                        .arg(leaving));
    return result;
}
