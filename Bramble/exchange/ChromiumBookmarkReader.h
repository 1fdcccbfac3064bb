#pragma once

#include "ImportedBookmarks.h"

#include <QString>
#include <nlohmann/json_fwd.hpp>
#include <optional>

// Reads the "Bookmarks" file of a Chromium profile (Chromium, Chrome, Brave, Vivaldi, Edge):
// the roots "bookmark_bar", "other" and "synced" become "书签工具栏", "其他书签" and
// "移动设备书签", in that order; "date_added" counts microseconds since 1601.
class ChromiumBookmarkReader
{
public:
    // An object with a "roots" object.
    static bool looksLikeChromium(const nlohmann::json &root);
    static std::optional<ImportedBookmarks> fromJson(const nlohmann::json &root, QString *error);
};
