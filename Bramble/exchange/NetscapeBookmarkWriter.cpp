#include "NetscapeBookmarkWriter.h"

#include "BookmarkTreeBuilder.h"
#include "DataExchange.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

namespace {

void appendEscaped(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    out.reserve(out.size() + utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
}

void appendDate(QByteArray &out, const QDateTime &date)
{
    if (!date.isValid())
        return;
    out += " ADD_DATE=\"";
    out += QByteArray::number(date.toSecsSinceEpoch());
    out += '"';
}

// The MIME type of icon bytes; empty for what is not an image.
QByteArray imageType(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer).toLower();
    if (format.isEmpty())
        return {};
    if (format == "svg" || format == "svgz")
        return "image/svg+xml";
    if (format == "ico" || format == "cur")
        return "image/x-icon";
    if (format == "jpg")
        return "image/jpeg";
    return "image/" + format;
}

void appendIcon(QByteArray &out, const std::optional<QByteArray> &icon)
{
    if (!icon || icon->isEmpty() || icon->size() > BookmarkTreeBuilder::maxIconBytes)
        return;
    const QByteArray type = imageType(*icon);
    if (type.isEmpty())
        return;
    out += " ICON=\"data:";
    out += type;
    out += ";base64,";
    out += icon->toBase64();
    out += '"';
}

} // namespace

QByteArray NetscapeBookmarkWriter::write(const ExportData &data)
{
    const QString placeholder = QString::fromUtf8(DataExchange::placeholderSummary);
    QByteArray out;
    out.reserve(512 + data.linkCount() * 200);
    out += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
           "<!-- This is an automatically generated file.\n"
           "     It will be read and overwritten.\n"
           "     DO NOT EDIT! -->\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
           "<TITLE>Bookmarks</TITLE>\n"
           "<H1>Bookmarks</H1>\n"
           "<DL><p>\n";
    for (const ExportGroup &group : data.groups) {
        out += "    <DT><H3";
        appendDate(out, group.createdAt);
        out += '>';
        appendEscaped(out, group.name);
        out += "</H3>\n    <DL><p>\n";
        for (const ExportItem &item : group.bookmarks) {
            out += "        <DT><A HREF=\"";
            appendEscaped(out, item.urlString);
            out += '"';
            appendDate(out, item.createdAt);
            appendIcon(out, item.iconData);
            out += '>';
            if (item.title)
                appendEscaped(out, *item.title);
            out += "</A>\n";
            // The placeholder only says the metadata has not arrived: no browser should keep it.
            if (item.summary && !item.summary->isEmpty() && *item.summary != placeholder) {
                out += "        <DD>";
                appendEscaped(out, *item.summary);
                out += '\n';
            }
        }
        out += "    </DL><p>\n";
    }
    out += "</DL>\n";
    return out;
}

bool NetscapeBookmarkWriter::writeFile(const ExportData &data, const QString &path, QString *error)
{
    const auto failWith = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    // Saving renames a new file over the old one, which would put a regular file in place of
    // a pipe or a device and report success.
    const QFileInfo target(path);
    if (target.isDir())
        return failWith(QStringLiteral("Could not write “%1”: it is a folder.").arg(path));
    if (target.exists() && !target.isFile())
        return failWith(QStringLiteral(
            "Could not write “%1”: it is not a regular file (a pipe or a device, for example).")
                            .arg(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failWith(QStringLiteral("Could not write “%1”: %2").arg(path, file.errorString()));
    const QByteArray bytes = write(data);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failWith(QStringLiteral("Could not write “%1”: %2").arg(path, file.errorString()));
    return true;
}
