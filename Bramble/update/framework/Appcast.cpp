#include "Appcast.h"

#include <QXmlStreamReader>

namespace {
const QString kNs = QString::fromLatin1(kBrambleUpdateNamespace);

bool isOurs(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri() == kNs && xml.name() == QLatin1String(name);
}

bool isPlain(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri().isEmpty() && xml.name() == QLatin1String(name);
}

AppcastEnclosure readEnclosure(const QXmlStreamAttributes &attributes)
{
    AppcastEnclosure enclosure;
    const QString url = attributes.value(QLatin1String("url")).toString().trimmed();
    if (!url.isEmpty())
        enclosure.url = QUrl(url, QUrl::StrictMode);
    // A missing, negative or garbled length reads as zero and is refused later.
    enclosure.length = attributes.value(QLatin1String("length")).toULongLong();
    enclosure.type = attributes.value(QLatin1String("type")).toString().trimmed();
    enclosure.edSignature
        = attributes.value(kNs, QLatin1String("edSignature")).toString().trimmed().toLatin1();
    return enclosure;
}

void readDeltas(QXmlStreamReader &xml, AppcastItem &item)
{
    QMap<QString, AppcastEnclosure> deltas;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, "enclosure")) {
            const QString from = xml.attributes().value(kNs, QLatin1String("deltaFrom")).toString().trimmed();
            AppcastEnclosure enclosure = readEnclosure(xml.attributes());
            if (!from.isEmpty() && enclosure.url.isValid())
                deltas.insert(from, enclosure);
        }
        xml.skipCurrentElement();
    }
    item.deltaUpdates = deltas;
}

AppcastItem readItem(QXmlStreamReader &xml)
{
    AppcastItem item;
    bool haveEnclosure = false;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, "title")) {
            item.title = xml.readElementText().trimmed();
        } else if (isPlain(xml, "description")) {
            item.itemDescription = xml.readElementText().trimmed();
        } else if (isPlain(xml, "pubDate")) {
            const QDateTime date = QDateTime::fromString(xml.readElementText().trimmed(), Qt::RFC2822Date);
            if (date.isValid())
                item.date = date.toUTC();
        } else if (isOurs(xml, "version")) {
            item.versionString = xml.readElementText().trimmed();
        } else if (isOurs(xml, "shortVersionString")) {
            item.displayVersionString = xml.readElementText().trimmed();
        } else if (isOurs(xml, "deltas")) {
            readDeltas(xml, item);
        } else if (isPlain(xml, "enclosure") && !haveEnclosure) {
            haveEnclosure = true;
            const AppcastEnclosure enclosure = readEnclosure(xml.attributes());
            if (enclosure.url.isValid() && !enclosure.url.isEmpty())
                item.fileURL = enclosure.url;
            item.contentLength = enclosure.length;
            item.enclosureType = enclosure.type;
            item.edSignature = enclosure.edSignature;
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (item.displayVersionString.isEmpty())
        item.displayVersionString = item.versionString;
    return item;
}
} // namespace

AppcastItem::ArchiveKind AppcastItem::archiveKind() const
{
    const QString type = enclosureType.toLower();
    const QString path = fileURL ? fileURL->path().toLower() : QString();
    if (type == QLatin1String("application/vnd.appimage") || type == QLatin1String("application/x-appimage")
        || path.endsWith(QLatin1String(".appimage")))
        return ArchiveKind::AppImage;
    if (type == QLatin1String("application/gzip") || type == QLatin1String("application/x-gzip")
        || type == QLatin1String("application/x-compressed-tar") || path.endsWith(QLatin1String(".tar.gz"))
        || path.endsWith(QLatin1String(".tgz")))
        return ArchiveKind::Portable;
    return ArchiveKind::Unknown;
}

AppcastParseResult parseAppcast(const QByteArray &document)
{
    AppcastParseResult result;
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement() || !isPlain(xml, "rss")) {
        result.error = xml.hasError() ? xml.errorString() : QStringLiteral("the document is not an RSS feed");
        return result;
    }
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (!isPlain(xml, "channel")) {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (isPlain(xml, "item"))
                result.items.append(readItem(xml));
            else
                xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        result.items.clear();
        result.endedEarly = xml.error() == QXmlStreamReader::PrematureEndOfDocumentError;
        result.error = QStringLiteral("%1 (line %2, column %3)")
                           .arg(xml.errorString())
                           .arg(xml.lineNumber())
                           .arg(xml.columnNumber());
        return result;
    }
    if (!sawChannel)
        result.error = QStringLiteral("the feed has no channel");
    return result;
}
