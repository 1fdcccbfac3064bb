#pragma once

#include "ExportData.h"

#include <QByteArray>
#include <QString>

// Writes a library as Netscape bookmark HTML, the one format every browser imports: one folder
// per group in the order given, its links in order, titles and addresses escaped, ADD_DATE
// from createdAt, a real summary as <DD>, icons inline as data: addresses. Takes plain records
// (the groups in sidebar order, the links in display order, icons in ExportItem::iconData),
// so it needs no store and runs on any thread. NetscapeBookmarkReader reads the result back
// to the same groups, links, titles and summaries; empty groups make no folder worth keeping
// and do not come back.
class NetscapeBookmarkWriter
{
public:
    static QByteArray write(const ExportData &data);
    // Replaces the file atomically, so a failed write leaves any earlier file intact.
    static bool writeFile(const ExportData &data, const QString &path, QString *error);

    // For the save panel's filter: "HTML (浏览器书签)".
    static QString nameFilter() { return QStringLiteral("HTML (浏览器书签) (*.html *.htm)"); }
    static constexpr const char *defaultFileName = "Bramble_Bookmarks.html";
};
