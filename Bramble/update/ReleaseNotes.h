#pragma once

#include <QString>

// Release notes come from the feed, which is not signed. What the dialog shows is rebuilt
// from them with a short list of text elements and nothing that names a resource: no
// images, style sheets, frames or background pictures, and links only to web addresses.
namespace ReleaseNotes {
// Notes longer than this are cut before they are read.
inline constexpr qsizetype kMaxLength = 64 * 1024;
// The parser takes time that grows with the square of the nesting; past this many tags
// the rest of the notes is dropped, which keeps hostile notes to a few milliseconds.
inline constexpr qsizetype kMaxTags = 2000;
// Elements nested deeper than this lose their tags and keep their text.
inline constexpr int kMaxDepth = 32;

// Safe HTML for a rich-text view; empty when the notes hold no text.
QString safeHtml(const QString &notes);
} // namespace ReleaseNotes
