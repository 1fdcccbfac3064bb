#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The part of a page that its head metadata comes from, reduced to what a link preview reads:
// the <title>, <meta>, <link> and <base> elements before <body> (or within the first 256 KB
// when the page has no <body>), one after the other.
//
// An HTML parser given a whole hostile page can need gigabytes, minutes or a deep recursion
// (nested tables, formatting elements, thousands of open <div>s). The markup produced here
// holds no element that can contain another, so parsing it is linear in its size, and its size
// is capped. Finding it is a single forward pass over the bytes.
struct HeadMarkup
{
    // Without a <body>, only what starts in this many bytes counts.
    static constexpr qsizetype headWindowBytes = 256 * 1024;
    // The most markup handed on, whatever the page.
    static constexpr qsizetype maxMarkupBytes = 256 * 1024;
    // A tag with more attributes than this is no real head element; it is dropped.
    static constexpr int maxAttributes = 32;

    QByteArray markup;
    // Where the scan stopped in the page.
    qsizetype scannedBytes = 0;
    bool reachedBody = false;
    // The cap on the markup was reached; the rest of the head was not read.
    bool capped = false;

    // The page's bytes in any encoding that keeps ASCII as ASCII (UTF-8, the Latin and CJK
    // legacy encodings). The markup keeps the page's own bytes, so its encoding too.
    static HeadMarkup extract(QByteArrayView page);
};
