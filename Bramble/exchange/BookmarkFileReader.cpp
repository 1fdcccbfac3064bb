#include "BookmarkFileReader.h"

#include "ChromiumBookmarkReader.h"
#include "FirefoxBackupReader.h"
#include "FirefoxPlacesReader.h"
#include "NetscapeBookmarkReader.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <new>
#include <nlohmann/json.hpp>

using Json = nlohmann::json;

namespace {

BookmarkReadResult failed(
    BookmarkReadFailure failure, const QString &error, BookmarkFormat format = BookmarkFormat::Unknown)
{
    BookmarkReadResult result;
    result.failure = failure;
    result.error = error;
    result.format = format;
    return result;
}

BookmarkReadResult succeeded(ImportedBookmarks bookmarks, BookmarkFormat format)
{
    BookmarkReadResult result;
    result.bookmarks = std::move(bookmarks);
    result.format = format;
    return result;
}

BookmarkReadResult fromReader(
    std::optional<ImportedBookmarks> bookmarks, const QString &error, BookmarkFormat format)
{
    if (!bookmarks)
        return failed(BookmarkReadFailure::Invalid, error, format);
    return succeeded(std::move(*bookmarks), format);
}

QByteArrayView withoutLeadingSpace(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    return text.sliced(i);
}

QString withoutExceptionPrefix(const char *what)
{
    // "[json.exception.parse_error.101] parse error at line 1, ..." reads well without its tag.
    QString text = QString::fromUtf8(what);
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype end = text.indexOf(QStringLiteral("] "));
        if (end > 0)
            text = text.mid(end + 2);
    }
    return text;
}

// Deeper than any bookmark file (64 folder levels nest about 130 deep): a tree of millions of
// nested arrays would exhaust memory long before the reader could refuse it.
constexpr int maxJsonDepth = 512;

bool jsonNestsDeeperThan(QByteArrayView text, int limit)
{
    int depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > limit)
                return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

const QString unsupported = QStringLiteral(
    "The file is not a bookmark file Bramble can read. Bramble reads its own export, the bookmark HTML that "
    "browsers export, a Chromium “Bookmarks” file, and Firefox's places.sqlite or JSON backup.");

BookmarkReadResult readJson(const QByteArray &contents)
{
    QString error;
    BookmarkFormat format = BookmarkFormat::Unknown;
    if (jsonNestsDeeperThan(contents, maxJsonDepth))
        return failed(BookmarkReadFailure::Invalid,
            QStringLiteral(
                "The file nests more than %1 levels deep; it is not a bookmark file Bramble can read.")
                .arg(maxJsonDepth));
    try {
        Json root = Json::parse(contents.constBegin(), contents.constEnd());
        if (ChromiumBookmarkReader::looksLikeChromium(root)) {
            format = BookmarkFormat::ChromiumJson;
            auto bookmarks = ChromiumBookmarkReader::fromJson(root, &error);
            return fromReader(std::move(bookmarks), error, format);
        }
        if (FirefoxBackupReader::looksLikeFirefoxBackup(root)) {
            format = BookmarkFormat::FirefoxBackup;
            auto bookmarks = FirefoxBackupReader::fromJson(root, &error);
            return fromReader(std::move(bookmarks), error, format);
        }
        if (!root.is_object() || (!root.contains("groups") && !root.contains("exportedAt")))
            return failed(BookmarkReadFailure::Unsupported, unsupported);
    } catch (const Json::exception &problem) {
        return failed(BookmarkReadFailure::Invalid,
            QStringLiteral("The file is not valid JSON: ") + withoutExceptionPrefix(problem.what()), format);
    } catch (const std::bad_alloc &) {
        return failed(
            BookmarkReadFailure::TooLarge, QStringLiteral("The file is too large to be read."), format);
    }
    // Bramble's own file, read by its own strict rules.
    auto data = ExportData::fromJson(contents, &error);
    if (!data)
        return failed(BookmarkReadFailure::Invalid, error, BookmarkFormat::Bramble);
    ImportedBookmarks bookmarks;
    bookmarks.source = BookmarkSource::bramble;
    bookmarks.data = std::move(*data);
    return succeeded(std::move(bookmarks), BookmarkFormat::Bramble);
}

} // namespace

BookmarkReadResult BookmarkFileReader::read(const QByteArray &contents)
{
    if (contents.size() > maxFileBytes)
        return failed(BookmarkReadFailure::TooLarge,
            QStringLiteral("The file is too large to be a bookmark file (the limit is %1 MB).")
                .arg(maxFileBytes / (1024 * 1024)));
    // Some older exports are UTF-16; every reader here takes UTF-8.
    if (contents.startsWith("\xFF\xFE") || contents.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(
            contents.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        const QString text = decoder(QByteArrayView(contents).sliced(2));
        return read(text.toUtf8());
    }
    if (FirefoxPlacesReader::looksLikeSqlite(contents))
        return failed(BookmarkReadFailure::Invalid,
            QStringLiteral("A places.sqlite can only be read from a file."), BookmarkFormat::FirefoxPlaces);
    if (contents.startsWith(QByteArrayView("mozLz40\0", 8)))
        return failed(BookmarkReadFailure::Unsupported,
            QStringLiteral(
                "The file is one of Firefox's compressed backups (.jsonlz4), which Bramble cannot read. "
                "In Firefox's Library choose “Backup…” to save a JSON backup, or import directly from "
                "Firefox."),
            BookmarkFormat::FirefoxBackup);
    const QByteArrayView text = withoutLeadingSpace(contents);
    if (text.startsWith('{') || text.startsWith('['))
        return readJson(contents);
    if (NetscapeBookmarkReader::looksLikeBookmarkHtml(contents)) {
        QString error;
        try {
            auto bookmarks = NetscapeBookmarkReader::read(contents, &error);
            return fromReader(std::move(bookmarks), error, BookmarkFormat::NetscapeHtml);
        } catch (const std::bad_alloc &) {
            return failed(BookmarkReadFailure::TooLarge, QStringLiteral("The file is too large to be read."),
                BookmarkFormat::NetscapeHtml);
        }
    }
    if (contents.isEmpty())
        return failed(BookmarkReadFailure::Unsupported, QStringLiteral("The file is empty."));
    return failed(BookmarkReadFailure::Unsupported, unsupported);
}

BookmarkReadResult BookmarkFileReader::readFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return failed(BookmarkReadFailure::CannotOpen,
            QStringLiteral("The file “%1” does not exist.").arg(info.fileName()));
    if (info.isDir())
        return failed(BookmarkReadFailure::CannotOpen,
            QStringLiteral("“%1” is a folder, not a bookmark file.").arg(info.fileName()));
    // Opening a pipe or a device could block or never end; only regular files are read.
    if (!info.isFile())
        return failed(BookmarkReadFailure::CannotOpen,
            QStringLiteral("“%1” is not a regular file (a pipe or a device, for example).")
                .arg(info.fileName()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // The system's own reason, such as "Permission denied", is the clearest here.
        return failed(BookmarkReadFailure::CannotOpen,
            file.error() == QFileDevice::PermissionsError || !info.isReadable()
                ? QStringLiteral("Permission denied")
                : file.errorString());
    }
    const QByteArray head = file.peek(16);
    if (FirefoxPlacesReader::looksLikeSqlite(head)) {
        file.close();
        QString error;
        auto bookmarks = FirefoxPlacesReader::readFile(path, &error);
        return fromReader(std::move(bookmarks), error, BookmarkFormat::FirefoxPlaces);
    }
    const auto tooLarge = [&] {
        return failed(BookmarkReadFailure::TooLarge,
            QStringLiteral("The file “%1” is too large to be a bookmark file (the limit is %2 MB).")
                .arg(info.fileName())
                .arg(maxFileBytes / (1024 * 1024)));
    };
    if (info.size() > maxFileBytes)
        return tooLarge();
    // The file may grow between the size check and the read.
    const QByteArray contents = file.read(maxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(BookmarkReadFailure::ReadError, file.errorString());
    if (contents.size() > maxFileBytes)
        return tooLarge();
    return read(contents);
}

QString BookmarkFileReader::formatName(BookmarkFormat format)
{
    switch (format) {
    case BookmarkFormat::Bramble:
        return QStringLiteral("Bramble");
    case BookmarkFormat::NetscapeHtml:
        return QStringLiteral("HTML");
    case BookmarkFormat::ChromiumJson:
        return QStringLiteral("Chromium");
    case BookmarkFormat::FirefoxPlaces:
        return QStringLiteral("Firefox");
    case BookmarkFormat::FirefoxBackup:
        return QStringLiteral("Firefox (JSON)");
    case BookmarkFormat::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}
