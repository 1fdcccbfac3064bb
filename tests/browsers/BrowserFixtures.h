#pragma once

#include "exchange/ImportedBookmarks.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

// Fixtures made by the tests themselves: a places.sqlite with Firefox's table layout, and the
// hand-written files of fixtures/.
namespace BrowserFixtures {

QByteArray fixture(const QString &name);

// A places.sqlite at path holding, in the menu: "Menu link" (with a page description), a
// separator and the folder "Work" with "Work link"; in the toolbar: "Toolbar link"; a tag
// folder repeating it; in unfiled: a place: query; in mobile: "Phone link". Rows are inserted
// out of position order. Returns the connection left open (named connectionName), or an
// invalid one on failure.
QSqlDatabase createPlaces(const QString &path, const QString &connectionName);
bool exec(QSqlDatabase &db, const QString &sql);

// A Chromium Bookmarks file with that many links in its bookmarks bar.
QByteArray fakeChromiumFile(int links);
// What a read gave, or nothing (with a warning naming why).
ImportedBookmarks readOrFail(const QByteArray &contents);

const ExportGroup *groupNamed(const ExportData &data, const QString &name);
QStringList groupNames(const ExportData &data);
QStringList addresses(const ExportGroup &group);
QByteArray sha(const QString &path);

} // namespace BrowserFixtures
