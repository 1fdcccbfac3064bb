#include "InstallTarget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
bool isInside(const QString &root, const QString &path)
{
    return !root.isEmpty() && !path.isEmpty() && path.startsWith(root + QLatin1Char('/'));
}
} // namespace

InstallTarget::Environment InstallTarget::Environment::current()
{
    Environment environment;
    environment.appImage = qEnvironmentVariable("APPIMAGE");
    environment.appDir = qEnvironmentVariable("APPDIR");
    environment.executablePath = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (environment.executablePath.isEmpty())
        environment.executablePath = QCoreApplication::applicationFilePath();
    return environment;
}

InstallTarget InstallTarget::detect()
{
    return detect(Environment::current());
}

InstallTarget InstallTarget::detect(const Environment &environment)
{
    InstallTarget target;
    const QFileInfo executable(environment.executablePath);
    const QString program = executable.canonicalFilePath().isEmpty() ? executable.absoluteFilePath()
                                                                     : executable.canonicalFilePath();
    // APPIMAGE is inherited by everything an AppImage starts. It names us only when the
    // running program lies inside the mount the AppImage runtime made for it.
    if (!environment.appImage.isEmpty()) {
        const QFileInfo image(environment.appImage);
        const QString mount = QFileInfo(environment.appDir).canonicalFilePath();
        if (image.isFile() && !environment.appDir.isEmpty() && isInside(mount, program)
            && !isInside(mount, image.canonicalFilePath())) {
            target.kind = Kind::AppImage;
            target.path = image.canonicalFilePath();
            return target;
        }
    }
    target.kind = Kind::Portable;
    target.path = QFileInfo(program).absolutePath();
    target.executable = QFileInfo(program).fileName();
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
