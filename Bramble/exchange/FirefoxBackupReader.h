#pragma once

#include "ImportedBookmarks.h"

#include <QString>
#include <nlohmann/json_fwd.hpp>
#include <optional>

// Reads the JSON backup Firefox writes from its Library window (bookmarks-YYYY-MM-DD.json):
// a tree of nodes with "guid", "typeCode" (1 link, 2 folder, 3 separator) and "children".
// Its roots are named as in places.sqlite; the tags root is left out, since its entries
// repeat links that stand elsewhere.
class FirefoxBackupReader
{
public:
    // An object with "children" that says it is a Places node.
    static bool looksLikeFirefoxBackup(const nlohmann::json &root);
    static std::optional<ImportedBookmarks> fromJson(const nlohmann::json &root, QString *error);

    // The group name of a Places root by its guid ("toolbar_____" → "书签工具栏"); empty for
    // the tags root and for folders that are no root.
    static QString rootName(const QString &guid);
    static bool isTagsRoot(const QString &guid) { return guid == QLatin1String("tags________"); }
};
