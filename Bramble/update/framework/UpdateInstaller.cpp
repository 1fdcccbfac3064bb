#include "UpdateInstaller.h"

#include "PortableManifest.h"
#include "VersionComparator.h"
#include "platform/Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {
const QString kPackageManagerAdvice
    = QStringLiteral("Bramble was installed by your package manager or in a folder you cannot write to (%1). "
                     "Please update Bramble through your package manager.");
const QString kNotPortable = QStringLiteral("Bramble 不是从便携版安装的，无法自动更新（%1）。");
constexpr const char *kStagingMarker = ".bramble-staging";

// One switch or clean-up at a time, whichever thread asks.
QMutex &diskLock()
{
    static QMutex mutex;
    return mutex;
}

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

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool exists(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool renamePath(const QString &from, const QString &to)
{
    // rename(2) is atomic and works for folders as well as files.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool exchangePaths(const QString &a, const QString &b)
{
    return ::renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD, QFile::encodeName(b).constData(),
               RENAME_EXCHANGE)
        == 0;
}

QString sibling(const QString &targetPath, const QString &suffix)
{
    const QFileInfo info(targetPath);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + suffix;
}

QString oldCopyPath(const QString &targetPath)
{
    return sibling(
        targetPath, QStringLiteral(".old-") + QString::number(QRandomGenerator::global()->generate64(), 36));
}

QStringList leftoverCopies(const QString &targetPath)
{
    const QFileInfo info(targetPath);
    const QString prefix = QStringLiteral(".") + info.fileName();
    QStringList found;
    const QStringList names
        = QDir(info.absolutePath())
              .entryList({ prefix + QStringLiteral(".old-*"), prefix + QStringLiteral(".next") },
                  QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names)
        found.append(info.absolutePath() + QLatin1Char('/') + name);
    return found;
}

// Deletes a release folder the way its marker allows; reports what had to stay.
void removeCopy(const QString &path, QStringList *kept)
{
    QString problem;
    const std::optional<PortableManifest> manifest = PortableManifest::read(path, &problem);
    QStringList left;
    if (!manifest) {
        Console::printLine(QStringLiteral("⚠️ Left %1 in place: %2").arg(path, problem));
    } else if (!manifest->removeRelease(path, &left)) {
        Console::printLine(QStringLiteral("⚠️ Kept %1: it holds files Bramble did not install: %2")
                               .arg(path, left.join(QStringLiteral(", "))));
    } else {
        return;
    }
    if (kept)
        kept->append(path);
}

// Why a portable folder may not be replaced, or empty; the manifest when it may.
QString checkPortableFolder(const QString &path, std::optional<PortableManifest> *manifestOut = nullptr)
{
    QString problem;
    std::optional<PortableManifest> manifest = PortableManifest::read(path, &problem);
    if (!manifest)
        return kNotPortable.arg(QStringLiteral("%1: %2").arg(path, problem));
    const QStringList unlisted = manifest->unlistedEntries(path);
    if (!unlisted.isEmpty())
        return kNotPortable.arg(QStringLiteral("%1 中有不属于 Bramble 的文件：%2")
                                    .arg(path, unlisted.join(QStringLiteral(", "))));
    if (manifestOut)
        *manifestOut = std::move(manifest);
    return QString();
}

UpdateInstaller::Result failure(const QString &message)
{
    return UpdateInstaller::Result { message };
}

// The unpacked release: a valid marker that lists exactly what is there, the program among it.
QString checkIncoming(const QString &incoming, const QString &executable)
{
    QString problem;
    const std::optional<PortableManifest> manifest = PortableManifest::read(incoming, &problem);
    if (!manifest)
        return QStringLiteral("The update archive is not a portable release of Bramble: %1").arg(problem);
    if (const QStringList extra = manifest->unlistedEntries(incoming); !extra.isEmpty())
        return QStringLiteral("The update archive holds files its marker does not list: %1")
            .arg(extra.join(QStringLiteral(", ")));
    if (const QStringList missing = manifest->missingFiles(incoming); !missing.isEmpty())
        return QStringLiteral("The update archive lacks files its marker lists: %1")
            .arg(missing.join(QStringLiteral(", ")));
    const QFileInfo program(incoming + QLatin1Char('/') + executable);
    if (executable.isEmpty() || !manifest->lists(executable) || !program.isFile() || program.isSymLink())
        return QStringLiteral("The update archive does not contain the program %1.").arg(executable);
    if (const QString leaving = PortableManifest::linkLeavingFolder(incoming); !leaving.isEmpty())
        return QStringLiteral("The update archive contains a link that points outside its folder: %1")
            .arg(leaving);
    return QString();
}

UpdateInstaller::Result installPortable(
    const InstallTarget &target, const QString &stagedPath, const UpdateInstaller::InstallOptions &options)
{
    const auto checkpoint = [&](const char *step) {
        if (options.checkpoint)
            options.checkpoint(step);
    };
    const QFileInfo targetInfo(target.path);
    const QString targetPath = targetInfo.absoluteFilePath();

    // The folder may have changed since the check before the download.
    std::optional<PortableManifest> old;
    if (const QString problem = checkPortableFolder(targetPath, &old); !problem.isEmpty())
        return failure(problem);
    const QString incoming = stagedPath + QLatin1Char('/') + QLatin1String(UpdateInstaller::kReleaseFolder);
    if (const QString problem = checkIncoming(incoming, target.executable); !problem.isEmpty())
        return failure(problem);
    QFile::setPermissions(incoming, targetInfo.permissions());
    const QString program = incoming + QLatin1Char('/') + target.executable;
    QFile::setPermissions(program,
        QFile::permissions(program) | QFile::ExeOwner | QFile::ExeUser | QFile::ReadOwner | QFile::ReadUser);

    const QString next = sibling(targetPath, QStringLiteral(".next"));
    if (exists(next))
        removeCopy(next, nullptr);
    if (!renamePath(incoming, next))
        return failure(
            QStringLiteral("The new version could not be put beside %1: %2").arg(targetPath, errnoText()));
    checkpoint("staged");

    // From here on an interruption leaves either the old or the new release in place, and
    // the next start removes whichever copy is left beside it.
    QString backup = oldCopyPath(targetPath);
    if (options.atomicSwap && exchangePaths(next, targetPath)) {
        checkpoint("swapped");
        if (!renamePath(next, backup))
            backup = next;
    } else {
        // No atomic swap on this file system: two renames, with a moment between them in
        // which only the old copy beside the folder holds the program. The next start puts
        // it back if that moment is interrupted.
        if (!renamePath(targetPath, backup)) {
            const QString reason = errnoText();
            removeCopy(next, nullptr);
            return failure(QStringLiteral("%1 could not be moved aside: %2").arg(targetPath, reason));
        }
        checkpoint("moved-aside");
        if (!renamePath(next, targetPath)) {
            const QString reason = errnoText();
            renamePath(backup, targetPath);
            removeCopy(next, nullptr);
            return failure(QStringLiteral("The new version could not be put in place: %1").arg(reason));
        }
    }
    checkpoint("replaced");
    QStringList left;
    if (!old->removeRelease(backup, &left))
        Console::printLine(QStringLiteral("⚠️ Kept %1: it holds files Bramble did not install: %2")
                               .arg(backup, left.join(QStringLiteral(", "))));
    return {};
}
} // namespace

QString UpdateInstaller::checkInstallable(const InstallTarget &target)
{
    const QFileInfo info(target.path);
    const QString path = info.absoluteFilePath();
    if (isSystemPath(path + QStringLiteral("/")))
        return kPackageManagerAdvice.arg(path);
    if (target.path.isEmpty() || !info.exists())
        return QStringLiteral("The installed program could not be found at %1.").arg(target.path);
    if (target.kind == InstallTarget::Kind::AppImage && !info.isFile())
        return QStringLiteral("The AppImage %1 is not a file.").arg(path);
    if (target.kind == InstallTarget::Kind::Portable) {
        if (!info.isDir() || info.isSymLink())
            return kNotPortable.arg(QStringLiteral("%1 不是文件夹").arg(path));
        if (const QString problem = checkPortableFolder(path); !problem.isEmpty())
            return problem;
    }
    const QFileInfo parent(info.absolutePath());
    if (!parent.isWritable() || !info.isWritable())
        return kPackageManagerAdvice.arg(path);
    return QString();
}

QString UpdateInstaller::stagingFolder(const InstallTarget &target)
{
    return sibling(target.path, QStringLiteral(".update"));
}

QString UpdateInstaller::prepareStagingFolder(const InstallTarget &target)
{
    const QString folder = stagingFolder(target);
    removeStagingFolder(target);
    if (exists(folder))
        return QStringLiteral("%1 is in the way of the update and is not Bramble's.").arg(folder);
    QFile marker(folder + QLatin1Char('/') + QLatin1String(kStagingMarker));
    if (!QDir().mkpath(folder) || !marker.open(QIODevice::WriteOnly))
        return QStringLiteral("The staging folder %1 could not be created.").arg(folder);
    return QString();
}

void UpdateInstaller::removeStagingFolder(const InstallTarget &target)
{
    // Only a folder we made, recognisable by its marker (or still empty), is removed whole.
    const QString folder = stagingFolder(target);
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return;
    const QDir dir(folder);
    if (QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(kStagingMarker))
        || dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        QDir(folder).removeRecursively();
}

std::optional<qint64> UpdateInstaller::freeSpace(const QString &folder)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

UpdateInstaller::Result UpdateInstaller::install(
    const InstallTarget &target, const QString &stagedPath, const InstallOptions &options)
{
    QMutexLocker lock(&diskLock());
    if (target.kind == InstallTarget::Kind::Portable)
        return installPortable(target, stagedPath, options);

    const QFileInfo file(stagedPath);
    if (!file.isFile() || file.size() == 0)
        return failure(QStringLiteral("The downloaded AppImage is missing."));
    const QString targetPath = QFileInfo(target.path).absoluteFilePath();
    QFile::setPermissions(stagedPath,
        QFile::permissions(targetPath) | QFile::ExeOwner | QFile::ExeUser | QFile::ReadOwner
            | QFile::ReadUser);
    // Renaming over the file replaces it in one step; the running copy keeps its own inode.
    if (!renamePath(stagedPath, targetPath))
        return failure(QStringLiteral("The new version could not be put in place: %1").arg(errnoText()));
    return {};
}

UpdateInstaller::Recovery UpdateInstaller::recoverInterruptedInstall(
    const InstallTarget &target, bool removeStaging)
{
    QMutexLocker lock(&diskLock());
    Recovery recovery;
    if (target.path.isEmpty())
        return recovery;
    const QString targetPath = QFileInfo(target.path).absoluteFilePath();
    if (target.kind == InstallTarget::Kind::Portable) {
        QStringList leftovers = leftoverCopies(targetPath);
        if (!exists(targetPath)) {
            // Of the complete old copies, the newest goes back.
            QString best;
            QString bestVersion;
            for (const QString &copy : std::as_const(leftovers)) {
                if (copy.endsWith(QLatin1String(".next")))
                    continue;
                const std::optional<PortableManifest> manifest = PortableManifest::read(copy, nullptr);
                if (!manifest || !manifest->lists(target.executable)
                    || !QFileInfo(copy + QLatin1Char('/') + target.executable).isFile())
                    continue;
                if (best.isEmpty() || compareVersions(manifest->version, bestVersion) > 0) {
                    best = copy;
                    bestVersion = manifest->version;
                }
            }
            if (!best.isEmpty() && renamePath(best, targetPath)) {
                Console::printLine(QStringLiteral("♻️ Put %1 back at %2 after an interrupted update")
                                       .arg(best, targetPath));
                recovery.restoredFrom = best;
                leftovers.removeOne(best);
            }
        }
        if (!exists(targetPath))
            return recovery;
        for (const QString &copy : std::as_const(leftovers))
            removeCopy(copy, &recovery.kept);
    }
    if (removeStaging && exists(targetPath))
        removeStagingFolder(target);
    return recovery;
}
