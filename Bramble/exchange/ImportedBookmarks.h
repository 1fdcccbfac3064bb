#pragma once

#include "ExportData.h"

#include <QSet>
#include <QString>
#include <optional>

// What a bookmark file yields, whatever its format: the groups and links to create (with the
// icons a browser gave inline), plus what was left out and why.
//
// A link's absent title or summary means the file had none: the import shows the address and
// the placeholder summary until its metadata arrives, and only such links need a refresh.
// Creation dates are the browser's where it recorded one, else the moment of reading.
struct ImportedBookmarks
{
    // "bramble", "html", "chromium" or "firefox": the "source" of the "data_imported" signal.
    QString source;
    ExportData data;
    // Links that are not web pages (place:, javascript:, file:, chrome: …) or have no usable
    // address: "已跳过 3 个非网页链接".
    int skippedNonWeb = 0;
    // Links left out by skipDuplicates().
    int skippedDuplicates = 0;

    // Drops every link whose normalised address is in existingKeys (see
    // LinkAddress::normalized) or came earlier in this file, and adds them to
    // skippedDuplicates. A group left empty by this goes too; groups the file itself held
    // empty stay.
    void skipDuplicates(const QSet<QString> &existingKeys = {});
    // Normalised keys of addresses, for skipDuplicates().
    static QSet<QString> keysOf(const QStringList &urlStrings);
};

// Group names for links that sit directly in one of a browser's roots, or loose at the top of
// a bookmark HTML file that names no root. The same in every format, so that the toolbar of
// Firefox and the bookmarks bar of Chromium land in groups of one name.
namespace BookmarkRoots {
inline const QString toolbar = QStringLiteral("书签工具栏");
inline const QString menu = QStringLiteral("书签菜单");
inline const QString other = QStringLiteral("其他书签");
inline const QString mobile = QStringLiteral("移动设备书签");
inline const QString unsorted = QStringLiteral("未分类");
// Joins a folder's path below the root into its group's name.
inline const QString pathSeparator = QStringLiteral(" / ");
// A folder whose name is empty.
inline const QString unnamedFolder = QStringLiteral("未命名文件夹");
} // namespace BookmarkRoots

namespace BookmarkSource {
inline const QString bramble = QStringLiteral("bramble");
inline const QString html = QStringLiteral("html");
inline const QString chromium = QStringLiteral("chromium");
inline const QString firefox = QStringLiteral("firefox");
} // namespace BookmarkSource
