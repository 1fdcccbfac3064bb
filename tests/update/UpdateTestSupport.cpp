#include "UpdateTestSupport.h"

#include "update/framework/Appcast.h"

#include <QFile>
#include <QTemporaryFile>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

QByteArray makeTarGz(const QList<ArchiveEntry> &entries)
{
    struct archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    QByteArray buffer(8 * 1024 * 1024, '\0');
    size_t used = 0;
    archive_write_open_memory(writer, buffer.data(), size_t(buffer.size()), &used);
    for (const ArchiveEntry &e : entries) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        if (!e.linkTarget.isEmpty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.linkTarget.toUtf8().constData());
            archive_entry_set_perm(entry, 0777);
        } else if (e.directory) {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, mode_t(e.mode));
            archive_entry_set_size(entry, e.content.size());
        }
        archive_write_header(writer, entry);
        if (!e.content.isEmpty())
            archive_write_data(writer, e.content.constData(), size_t(e.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    buffer.truncate(qsizetype(used));
    return buffer;
}

QList<TestSuite> &testSuites()
{
    static QList<TestSuite> suites;
    return suites;
}

QString signingTool()
{
    const QString binaryDir = qEnvironmentVariable("BRAMBLE_TEST_BINARY_DIR");
    const QString tool
        = (binaryDir.isEmpty() ? QCoreApplication::applicationDirPath() : binaryDir + QStringLiteral("/bin"))
        + QStringLiteral("/bramble-sign-update");
    return QFileInfo(tool).isExecutable() ? tool : QString();
}

QList<ArchiveEntry> withPortableMarker(QList<ArchiveEntry> entries, const QString &version)
{
    const QString top = QStringLiteral("Bramble/");
    PortableManifest manifest;
    manifest.version = version;
    for (const ArchiveEntry &e : std::as_const(entries)) {
        if (!e.directory && e.name.startsWith(top))
            manifest.files.append(e.name.mid(top.size()));
    }
    std::sort(manifest.files.begin(), manifest.files.end(), PortableManifest::lessThan);
    entries.append({ top + QLatin1String(PortableManifest::kFileName), manifest.serialize() });
    return entries;
}

QByteArray makeFeed(const QList<FeedEntry> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" xmlns:bramble=\"";
    xml += kBrambleUpdateNamespace;
    xml += "\">\n<channel>\n<title>Bramble</title>\n";
    for (const FeedEntry &e : entries) {
        xml += "<item>\n<title>Bramble " + e.displayVersion.toUtf8() + "</title>\n";
        if (!e.pubDate.isEmpty())
            xml += "<pubDate>" + e.pubDate.toUtf8() + "</pubDate>\n";
        if (!e.description.isEmpty())
            xml += "<description><![CDATA[" + e.description.toUtf8() + "]]></description>\n";
        xml += "<bramble:version>" + e.version.toUtf8() + "</bramble:version>\n";
        xml += "<bramble:shortVersionString>" + e.displayVersion.toUtf8() + "</bramble:shortVersionString>\n";
        xml += "<enclosure";
        if (!e.url.isEmpty())
            xml += " url=\"" + e.url.toHtmlEscaped().toUtf8() + "\"";
        xml += " length=\"" + QByteArray::number(e.length) + "\" type=\"" + e.type.toUtf8() + "\"";
        if (!e.signature.isEmpty())
            xml += " bramble:edSignature=\"" + e.signature + "\"";
        xml += "/>\n</item>\n";
    }
    xml += "</channel>\n</rss>\n";
    return xml;
}

ConsoleCapture::ConsoleCapture()
{
    QTemporaryFile file;
    file.setAutoRemove(false);
    file.open();
    m_path = file.fileName();
    file.close();
    std::fflush(stdout);
    m_savedFd = dup(STDOUT_FILENO);
    const int fd = open(QFile::encodeName(m_path).constData(), O_WRONLY | O_TRUNC);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

ConsoleCapture::~ConsoleCapture()
{
    lines();
    QFile::remove(m_path);
}

QStringList ConsoleCapture::lines()
{
    std::fflush(stdout);
    if (m_savedFd >= 0) {
        dup2(m_savedFd, STDOUT_FILENO);
        close(m_savedFd);
        m_savedFd = -1;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
