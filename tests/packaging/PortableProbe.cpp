// Takes a portable release through the updater's own steps, as an installed copy would:
//
//   portable-probe INSTALLED_FOLDER ARCHIVE
//
// detects INSTALLED_FOLDER/bramble as the running program's install target, checks that the
// updater would replace it, then unpacks ARCHIVE and installs it in its place. Prints what
// it found; exits 0 only when every step succeeded.

#include "update/framework/InstallTarget.h"
#include "update/framework/UpdateArchive.h"
#include "update/framework/UpdateInstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {
int fail(const QString &step, const QString &message)
{
    QTextStream(stdout) << "FAIL " << step << ": " << message << Qt::endl;
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return fail(QStringLiteral("usage"), QStringLiteral("portable-probe INSTALLED_FOLDER ARCHIVE"));
    const QString folder = QFileInfo(arguments.at(1)).canonicalFilePath();
    const QString archive = arguments.at(2);
    QTextStream out(stdout);

    InstallTarget::Environment environment;
    environment.executablePath = folder + QStringLiteral("/bramble");
    const InstallTarget target = InstallTarget::detect(environment);
    out << "kind " << (target.kind == InstallTarget::Kind::Portable ? "portable" : "appimage") << "\n";
    out << "path " << target.path << "\n";
    out << "executable " << target.executable << "\n";
    if (target.kind != InstallTarget::Kind::Portable || target.path != folder)
        return fail(QStringLiteral("detect"), QStringLiteral("not detected as the portable folder"));
    if (const QString problem = UpdateInstaller::checkInstallable(target); !problem.isEmpty())
        return fail(QStringLiteral("installable"), problem);
    out << "installable yes" << Qt::endl;

    if (const QString problem = UpdateInstaller::prepareStagingFolder(target); !problem.isEmpty())
        return fail(QStringLiteral("staging"), problem);
    const QString staged = UpdateInstaller::stagingFolder(target) + QStringLiteral("/extracted");
    const UpdateArchive::Result extracted
        = UpdateArchive::extract(archive, staged, QString::fromLatin1(UpdateInstaller::kReleaseFolder));
    if (!extracted.ok()) {
        UpdateInstaller::removeStagingFolder(target);
        return fail(QStringLiteral("extract"), extracted.error);
    }
    const UpdateInstaller::Result installed = UpdateInstaller::install(target, staged);
    UpdateInstaller::removeStagingFolder(target);
    if (!installed.ok())
        return fail(QStringLiteral("install"), installed.error);
    out << "installed yes" << Qt::endl;
    return 0;
}
