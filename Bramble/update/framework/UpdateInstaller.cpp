#include "UpdateInstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
const QString kPackageManagerAdvice
    = QStringLiteral("Bramble was installed by your package manager or in a folder you cannot write to (%1). "
                     "Please update Bramble through your package manager.");

bool isSystemPath(const QString &path)
{
    static const char *roots[]
        = { "/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/", "/snap/", "/var/lib/flatpak/" };
    if (path.startsWith(QLatin1String("/usr/local/")))
        return false;
    for (const char *root : roots) {
        if (path.startsWith(QLatin1String(root)))
            return true;
    }
    return false;
}

QString randomSuffix()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

bool renamePath(const QString &from, const QString &to)
{
    // rename(2) is atomic and works for folders as well as files.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// True when path is root itself or lies inside it, judged on the cleaned text.
bool isInside(const QString &root, const QString &path)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    return cleanPath == cleanRoot || cleanPath.startsWith(cleanRoot + QLatin1Char('/'));
}

// The entry name as a safe relative path, or empty when it must be refused.
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

// An existing link anywhere on the way down could redirect a write out of the folder.
bool passesThroughLink(const QString &root, const QString &relative)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    QString path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts.at(i);
        if (QFileInfo(path).isSymLink())
            return true;
    }
    return false;
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

struct ArchiveCloser
{
    void operator()(struct archive *a) const { archive_read_free(a); }
};
} // namespace

InstallTarget InstallTarget::detect()
{
    InstallTarget target;
    const QString appImage = qEnvironmentVariable("APPIMAGE");
    if (!appImage.isEmpty()) {
        target.kind = Kind::AppImage;
        target.path = QFileInfo(appImage).absoluteFilePath();
        return target;
    }
    target.kind = Kind::Portable;
    target.path = QCoreApplication::applicationDirPath();
    target.executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return target;
}

AppcastItem::ArchiveKind InstallTarget::archiveKind() const
{
    return kind == Kind::AppImage ? AppcastItem::ArchiveKind::AppImage : AppcastItem::ArchiveKind::Portable;
}

QString InstallTarget::relaunchProgram() const
{
    if (kind == Kind::AppImage)
        return path;
    return path + QLatin1Char('/') + executable;
}

QString UpdateInstaller::checkInstallable(const InstallTarget &target)
{
    const QFileInfo info(target.path);
    const QString path = info.absoluteFilePath();
    if (isSystemPath(path + QStringLiteral("/")))
        return kPackageManagerAdvice.arg(path);
    if (target.path.isEmpty() || !info.exists())
        return QStringLiteral("The installed program could not be found at %1.").arg(target.path);
    // Replacing the home folder or the root because the program was run from there
    // would be a disaster, not an update.
    const QString canonical = info.canonicalFilePath();
    if (target.kind == InstallTarget::Kind::Portable
        && (canonical == QLatin1String("/") || canonical == QDir(QDir::homePath()).canonicalPath()))
        return kPackageManagerAdvice.arg(path);
    if (target.kind == InstallTarget::Kind::AppImage && !info.isFile())
        return QStringLiteral("The AppImage %1 is not a file.").arg(path);
    if (target.kind == InstallTarget::Kind::Portable && !info.isDir())
        return QStringLiteral("The program folder %1 is not a folder.").arg(path);
    const QFileInfo parent(info.absolutePath());
    if (!parent.isWritable() || !info.isWritable())
        return kPackageManagerAdvice.arg(path);
    return QString();
}

QString UpdateInstaller::stagingFolder(const InstallTarget &target)
{
    const QFileInfo info(target.path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".update");
}

QString UpdateInstaller::prepareStagingFolder(const InstallTarget &target)
{
    const QString folder = stagingFolder(target);
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder))
        return QStringLiteral("The staging folder %1 could not be created.").arg(folder);
    return QString();
}

void UpdateInstaller::removeStagingFolder(const InstallTarget &target)
{
    QDir(stagingFolder(target)).removeRecursively();
}

UpdateInstaller::Result UpdateInstaller::extractArchive(
    const QString &archivePath, const QString &destination)
{
    Result result;
    const QString root = QDir(destination).absolutePath();
    if (!QDir().mkpath(root)) {
        result.error = QStringLiteral("The folder %1 could not be created.").arg(root);
        return result;
    }
    std::unique_ptr<struct archive, ArchiveCloser> reader(archive_read_new());
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_gnutar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 256 * 1024)
        != ARCHIVE_OK) {
        result.error = QStringLiteral("The update archive could not be opened: %1")
                           .arg(QString::fromLocal8Bit(archive_error_string(reader.get())));
        return result;
    }
    const auto fail = [&](const QString &message) {
        result.error = message;
        return result;
    };
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
        const QString target = root + QLatin1Char('/') + relative;
        if (passesThroughLink(root, relative))
            return fail(QStringLiteral("The update archive writes through a link: %1").arg(name));
        if (archive_entry_hardlink(entry))
            return fail(QStringLiteral("The update archive contains a hard link, which is not supported: %1")
                            .arg(name));
        const mode_t type = archive_entry_filetype(entry);
        const mode_t mode = archive_entry_perm(entry);
        QFileInfo existing(target);
        if (existing.isSymLink() || (existing.exists() && type != AE_IFDIR))
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
            const QString resolved = QFileInfo(target).absolutePath() + QLatin1Char('/') + link;
            if (link.isEmpty() || link.startsWith(QLatin1Char('/')) || !isInside(root, resolved))
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
    return result;
}

UpdateInstaller::Result UpdateInstaller::install(const InstallTarget &target, const QString &stagedPath)
{
    Result result;
    const QFileInfo targetInfo(target.path);
    const QString targetPath = targetInfo.absoluteFilePath();
    QString incoming = stagedPath;

    if (target.kind == InstallTarget::Kind::Portable) {
        // A release may pack the program's folder itself or only its contents.
        const QDir staged(stagedPath);
        const QFileInfoList entries
            = staged.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (entries.size() == 1 && entries.first().isDir() && !entries.first().isSymLink())
            incoming = entries.first().absoluteFilePath();
        const QFileInfo program(incoming + QLatin1Char('/') + target.executable);
        if (target.executable.isEmpty() || !program.isFile() || program.isSymLink()) {
            result.error = QStringLiteral("The update archive does not contain the program %1.")
                               .arg(target.executable);
            return result;
        }
        QFile::setPermissions(incoming, targetInfo.permissions());
        QFile::setPermissions(program.absoluteFilePath(),
            program.permissions() | QFile::ExeOwner | QFile::ExeUser | QFile::ReadOwner | QFile::ReadUser);
    } else {
        const QFileInfo file(stagedPath);
        if (!file.isFile() || file.size() == 0) {
            result.error = QStringLiteral("The downloaded AppImage is missing.");
            return result;
        }
        QFile::setPermissions(stagedPath,
            targetInfo.permissions() | QFile::ExeOwner | QFile::ExeUser | QFile::ReadOwner | QFile::ReadUser);
    }

    const QString backup = targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName()
        + QStringLiteral(".old-") + randomSuffix();
    if (!renamePath(targetPath, backup)) {
        result.error = QStringLiteral("%1 could not be moved aside: %2")
                           .arg(targetPath, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    if (!renamePath(incoming, targetPath)) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        renamePath(backup, targetPath);
        result.error = QStringLiteral("The new version could not be put in place: %1").arg(reason);
        return result;
    }
    if (QFileInfo(backup).isDir())
        QDir(backup).removeRecursively();
    else
        QFile::remove(backup);
    return result;
}
