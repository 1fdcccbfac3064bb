#include "BookmarkTreeBuilder.h"

#include "LinkAddress.h"

#include <QImage>

BookmarkTreeBuilder::BookmarkTreeBuilder(QString source)
    : m_source(std::move(source))
    , m_looseName(BookmarkRoots::unsorted)
    , m_now(ExportData::currentTime())
{ }

bool BookmarkTreeBuilder::enterFolder(const QString &name, const QDateTime &createdAt)
{
    if (int(m_folders.size()) >= maxFolderDepth) {
        fail(QStringLiteral("The folders in this file are nested more than %1 levels deep.")
                 .arg(maxFolderDepth));
        return false;
    }
    QString cleaned = cleanText(name);
    if (cleaned.isEmpty())
        cleaned = BookmarkRoots::unnamedFolder;
    Folder folder;
    folder.path
        = m_folders.empty() ? cleaned : m_folders.back().path + BookmarkRoots::pathSeparator + cleaned;
    // The group's place is the folder's own, even if its links come after those of subfolders.
    folder.group = int(m_groups.size());
    m_groups.push_back({ folder.path, createdAt.isValid() ? createdAt : m_now, {}, false });
    m_folders.push_back(std::move(folder));
    m_lastGroup = -1;
    return true;
}

void BookmarkTreeBuilder::leaveFolder()
{
    if (!m_folders.empty())
        m_folders.pop_back();
    m_lastGroup = -1;
}

int BookmarkTreeBuilder::looseGroup()
{
    // Placed where its first link appears: a Chromium export lists the bookmarks bar first and
    // the loose "other" links after it.
    if (m_loose < 0) {
        m_loose = int(m_groups.size());
        m_groups.push_back({ QString(), m_now, {}, true });
    }
    return m_loose;
}

bool BookmarkTreeBuilder::addLink(const QString &urlString, const QString &title, const QString &summary,
    const QDateTime &createdAt, const QByteArray &iconData)
{
    m_lastGroup = -1;
    const QString address = urlString.trimmed();
    if (address.size() > maxAddressLength || !LinkAddress::isWebAddress(address)) {
        ++m_skippedNonWeb;
        return true;
    }
    if (++m_linkCount > maxLinks) {
        fail(QStringLiteral("The file holds more than %L1 links, more than Bramble imports at once.")
                 .arg(maxLinks));
        return false;
    }
    ExportItem item;
    item.urlString = address;
    const QString cleanTitle = cleanText(title);
    if (!cleanTitle.isEmpty())
        item.title = cleanTitle;
    const QString cleanSummary = cleanText(summary);
    if (!cleanSummary.isEmpty())
        item.summary = cleanSummary;
    item.createdAt = createdAt.isValid() ? createdAt : m_now;
    if (!iconData.isEmpty())
        item.iconData = iconData;
    const int group = m_folders.empty() ? looseGroup() : m_folders.back().group;
    m_groups[size_t(group)].links.append(std::move(item));
    m_lastGroup = group;
    return true;
}

void BookmarkTreeBuilder::setLastLinkSummary(const QString &summary)
{
    if (m_lastGroup < 0)
        return;
    const QString cleaned = cleanText(summary);
    if (!cleaned.isEmpty())
        m_groups[size_t(m_lastGroup)].links.last().summary = cleaned;
}

void BookmarkTreeBuilder::fail(const QString &error)
{
    if (m_error.isEmpty())
        m_error = error;
}

ImportedBookmarks BookmarkTreeBuilder::finish()
{
    ImportedBookmarks result;
    result.source = m_source;
    result.skippedNonWeb = m_skippedNonWeb;
    result.data.exportedAt = m_now;
    for (Group &group : m_groups) {
        if (group.links.isEmpty())
            continue;
        result.data.groups.append(
            { group.loose ? m_looseName : std::move(group.name), group.createdAt, std::move(group.links) });
    }
    m_groups.clear();
    m_folders.clear();
    m_loose = m_lastGroup = -1;
    return result;
}

QString BookmarkTreeBuilder::cleanText(const QString &text)
{
    QString out;
    out.reserve(std::min(text.size(), maxTextLength));
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size && text[i].isSpace())
        ++i;
    while (i < size && out.size() < maxTextLength) {
        if (!text[i].isSpace()) {
            out.append(text[i++]);
            continue;
        }
        const qsizetype start = i;
        bool breaks = false;
        while (i < size && text[i].isSpace()) {
            const char16_t c = text[i].unicode();
            breaks = breaks || c == u'\n' || c == u'\r' || c == u'\t' || c == u'\f' || c == u'\v';
            ++i;
        }
        if (i == size)
            break;
        if (breaks)
            out.append(QLatin1Char(' '));
        else
            out.append(QStringView(text).mid(start, i - start));
    }
    return out.left(maxTextLength);
}

QByteArray BookmarkTreeBuilder::iconFromDataUri(const QString &uri)
{
    const QString trimmed = uri.trimmed();
    if (!trimmed.startsWith(QLatin1String("data:image/"), Qt::CaseInsensitive))
        return {};
    const qsizetype comma = trimmed.indexOf(QLatin1Char(','));
    if (comma < 0)
        return {};
    const QString header = trimmed.left(comma);
    const QStringView payload = QStringView(trimmed).mid(comma + 1);
    // Base64 grows data by a third: anything this long cannot fit the cap.
    if (payload.size() > maxIconBytes * 4 / 3 + 8
        && header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive))
        return {};
    QByteArray bytes;
    if (header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)) {
        const auto decoded = QByteArray::fromBase64Encoding(
            payload.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return {};
        bytes = *decoded;
    } else {
        if (payload.size() > maxIconBytes * 3)
            return {};
        bytes = QByteArray::fromPercentEncoding(payload.toUtf8());
    }
    if (bytes.isEmpty() || bytes.size() > maxIconBytes)
        return {};
    QImage image;
    if (!image.loadFromData(bytes))
        return {};
    return bytes;
}

QDateTime BookmarkTreeBuilder::fromUnixTime(qint64 value)
{
    if (value <= 0)
        return {};
    // 1e11 seconds lie in the year 5138, 1e14 milliseconds likewise: larger values use a finer unit.
    qint64 msecs;
    if (value < 100'000'000'000LL)
        msecs = value * 1000;
    else if (value < 100'000'000'000'000LL)
        msecs = value;
    else
        msecs = value / 1000;
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(msecs - msecs % 1000, Qt::UTC);
    if (!date.isValid() || date.date().year() > 9999)
        return {};
    return date;
}

QDateTime BookmarkTreeBuilder::fromWindowsMicroseconds(qint64 value)
{
    constexpr qint64 secondsFrom1601To1970 = 11'644'473'600LL;
    if (value <= 0)
        return {};
    const qint64 seconds = value / 1'000'000 - secondsFrom1601To1970;
    if (seconds <= 0)
        return {};
    const QDateTime date = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    if (!date.isValid() || date.date().year() > 9999)
        return {};
    return date;
}
