#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The result of one metadata fetch. Absent fields are how a fetch reports what it could not find.
struct LinkMetadata
{
    std::optional<QString> title;
    std::optional<QString> summary;
    // The icon file exactly as downloaded.
    std::optional<QByteArray> iconData;
    // The summary is the page's own description, not the host-name fallback.
    bool summaryFromPage = false;

    bool operator==(const LinkMetadata &) const = default;
};
