#pragma once

#include "AppcastItem.h"

#include <QList>
#include <QString>

// The XML namespace of our own feed elements and attributes.
inline constexpr const char *kBrambleUpdateNamespace = "https://bramble.invalid/xmlns/update/1";

struct AppcastParseResult
{
    QList<AppcastItem> items;
    // Empty when the document was read.
    QString error;
    // The document stopped before its end, as a transfer cut short leaves it.
    bool endedEarly = false;
};

// Reads an RSS 2.0 update feed; items are returned in document order.
AppcastParseResult parseAppcast(const QByteArray &document);
