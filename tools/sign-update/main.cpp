// bramble-sign-update: makes an Ed25519 key pair for update signing, writes the marker of a
// portable release folder, signs release archives and prints the feed entry that publishes them.

#include "update/framework/PortableManifest.h"
#include "update/framework/UpdateSignature.h"
#include "update/framework/UpdateTransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Must match the namespace the program reads.
constexpr const char *kNamespace = "https://bramble.invalid/xmlns/update/1";

int fail(const QString &message)
{
    QTextStream(stderr) << "bramble-sign-update: " << message << Qt::endl;
    return 1;
}

QByteArray readSecretKey(const QString &path)
{
    if (path.isEmpty())
        return qgetenv("BRAMBLE_UPDATE_SECRET_KEY").trimmed();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll().trimmed();
}

QString guessType(const QString &path)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".appimage")))
        return QStringLiteral("application/vnd.appimage");
    return QStringLiteral("application/gzip");
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// The secret key file is private from the moment it exists, whatever the umask.
bool writePrivateFile(const QString &path, const QByteArray &data, QString *error)
{
    const int fd = ::open(
        QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file.errorString();
        return false;
    }
    if (file.write(data) != data.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

int writePortableManifest(const QString &folder, const QString &version, QTextStream &out)
{
    QString error;
    const std::optional<PortableManifest> manifest = PortableManifest::forFolder(folder, version, &error);
    if (!manifest)
        return fail(error);
    const QFileInfo program(folder + QStringLiteral("/bramble"));
    if (!manifest->lists(QStringLiteral("bramble")) || !program.isFile() || program.isSymLink()
        || !program.isExecutable())
        return fail(folder + QStringLiteral(" holds no executable file named bramble"));
    if (const QString leaving = PortableManifest::linkLeavingFolder(folder); !leaving.isEmpty())
        return fail(leaving + QStringLiteral(" is a link that leads out of the folder; updates refuse it"));
    QSaveFile file(folder + QLatin1Char('/') + QLatin1String(PortableManifest::kFileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(manifest->serialize()) < 0 || !file.commit())
        return fail(
            QStringLiteral("cannot write ") + file.fileName() + QStringLiteral(": ") + file.errorString());
    out << "Wrote " << file.fileName() << ": version " << version << ", " << manifest->files.size()
        << " files\n";
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bramble-sign-update"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Signs Bramble update archives.\n\n"
        "  portable-manifest FOLDER --version TEXT\n"
        "      Writes FOLDER/.bramble-portable, the marker listing every file of a portable\n"
        "      release; pack the folder as Bramble/ after this.\n"
        "  generate-keys --secret-key-file FILE\n"
        "      Writes a new secret key to FILE (readable by you only) and prints the public key,\n"
        "      the value of the BRAMBLE_UPDATE_PUBLIC_KEY build setting.\n"
        "  public-key [--secret-key-file FILE]\n"
        "      Prints the public key of a secret key (from FILE or BRAMBLE_UPDATE_SECRET_KEY).\n"
        "  sign ARCHIVE --url URL --build VERSION --display-version TEXT [--secret-key-file FILE]\n"
        "      Prints the <item> for the feed. The secret key comes from FILE or from the\n"
        "      BRAMBLE_UPDATE_SECRET_KEY environment variable.\n"
        "  verify ARCHIVE --signature BASE64 --public-key BASE64\n"
        "      Exits with 0 when the signature matches."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("portable-manifest, generate-keys, public-key, sign or verify"));
    parser.addPositionalArgument(
        QStringLiteral("archive"), QStringLiteral("The release file"), QStringLiteral("[archive]"));
    const QCommandLineOption secretOption(
        QStringLiteral("secret-key-file"), QStringLiteral("Secret key file"), QStringLiteral("file"));
    const QCommandLineOption urlOption(
        QStringLiteral("url"), QStringLiteral("Address the archive is published at"), QStringLiteral("url"));
    const QCommandLineOption buildOption(
        QStringLiteral("build"), QStringLiteral("Build version of the release"), QStringLiteral("version"));
    const QCommandLineOption displayOption(
        QStringLiteral("display-version"), QStringLiteral("Version shown to users"), QStringLiteral("text"));
    const QCommandLineOption typeOption(
        QStringLiteral("type"), QStringLiteral("Enclosure MIME type"), QStringLiteral("type"));
    const QCommandLineOption notesOption(
        QStringLiteral("notes"), QStringLiteral("Release notes (HTML)"), QStringLiteral("text"));
    const QCommandLineOption signatureOption(
        QStringLiteral("signature"), QStringLiteral("Signature to check"), QStringLiteral("base64"));
    const QCommandLineOption publicOption(
        QStringLiteral("public-key"), QStringLiteral("Public key"), QStringLiteral("base64"));
    const QCommandLineOption versionOption(QStringLiteral("version"),
        QStringLiteral("Version of the release (portable-manifest)"), QStringLiteral("text"));
    parser.addOptions({ secretOption, urlOption, buildOption, displayOption, typeOption, notesOption,
        signatureOption, publicOption, versionOption });
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    QTextStream out(stdout);

    if (command == QLatin1String("portable-manifest")) {
        const QString folder = positional.value(1);
        if (folder.isEmpty())
            return fail(QStringLiteral("no folder given"));
        if (!parser.isSet(versionOption))
            return fail(QStringLiteral("--version is required"));
        return writePortableManifest(folder, parser.value(versionOption), out);
    }

    if (command == QLatin1String("generate-keys")) {
        const QString path = parser.value(secretOption);
        if (path.isEmpty())
            return fail(QStringLiteral("--secret-key-file is required"));
        if (QFileInfo::exists(path))
            return fail(path + QStringLiteral(" exists; refusing to overwrite a secret key"));
        const UpdateSignature::KeyPair keys = UpdateSignature::generateKeyPair();
        if (keys.secretKeyBase64.isEmpty())
            return fail(QStringLiteral("libsodium could not be initialised"));
        QString error;
        if (!writePrivateFile(path, keys.secretKeyBase64 + '\n', &error))
            return fail(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error);
        out << "Secret key written to " << path << " - keep it private and backed up.\n";
        out << "Public key (configure with -DBRAMBLE_UPDATE_PUBLIC_KEY=...):\n"
            << keys.publicKeyBase64 << "\n";
        return 0;
    }

    if (command == QLatin1String("public-key")) {
        const QByteArray publicKey = UpdateSignature::publicKeyOf(readSecretKey(parser.value(secretOption)));
        if (publicKey.isEmpty())
            return fail(QStringLiteral(
                "no valid secret key: give --secret-key-file or set BRAMBLE_UPDATE_SECRET_KEY"));
        out << publicKey << "\n";
        return 0;
    }

    const QString archivePath = positional.value(1);
    if (archivePath.isEmpty())
        return fail(QStringLiteral("no archive given"));
    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + archivePath);
    const QByteArray data = archive.readAll();

    if (command == QLatin1String("verify")) {
        const bool ok = UpdateSignature::verify(
            data, parser.value(signatureOption).toLatin1(), parser.value(publicOption).toLatin1());
        out << (ok ? "signature OK\n" : "signature does NOT match\n");
        return ok ? 0 : 2;
    }
    if (command != QLatin1String("sign"))
        return fail(QStringLiteral("unknown command; see --help"));

    const QByteArray secret = readSecretKey(parser.value(secretOption));
    if (secret.isEmpty())
        return fail(QStringLiteral("no secret key: give --secret-key-file or set BRAMBLE_UPDATE_SECRET_KEY"));
    const QByteArray signature = UpdateSignature::sign(data, secret);
    if (signature.isEmpty())
        return fail(QStringLiteral("the secret key is not a valid Ed25519 secret key"));
    const QString url = parser.value(urlOption);
    const QString build = parser.value(buildOption);
    if (url.isEmpty() || build.isEmpty())
        return fail(QStringLiteral("--url and --build are required"));
    if (!isPermittedUpdateTransport(QUrl(url, QUrl::StrictMode)))
        return fail(
            QStringLiteral("the archive must be published over https (http only on 127.0.0.1 or ::1)"));
    const QString display = parser.isSet(displayOption) ? parser.value(displayOption) : build;
    const QString type = parser.isSet(typeOption) ? parser.value(typeOption) : guessType(archivePath);

    out << "<!-- the channel's <rss> element declares xmlns:bramble=\"" << kNamespace << "\" -->\n";
    out << "<item>\n";
    out << "  <title>Bramble " << escaped(display) << "</title>\n";
    out << "  <pubDate>" << QDateTime::currentDateTimeUtc().toString(Qt::RFC2822Date) << "</pubDate>\n";
    if (parser.isSet(notesOption))
        out << "  <description><![CDATA[" << parser.value(notesOption) << "]]></description>\n";
    out << "  <bramble:version>" << escaped(build) << "</bramble:version>\n";
    out << "  <bramble:shortVersionString>" << escaped(display) << "</bramble:shortVersionString>\n";
    out << "  <enclosure url=\"" << escaped(url) << "\" length=\"" << data.size() << "\" type=\""
        << escaped(type) << "\"\n             bramble:edSignature=\"" << signature << "\"/>\n";
    out << "</item>\n";
    return 0;
}
