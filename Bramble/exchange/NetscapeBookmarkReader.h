#pragma once

#include "ImportedBookmarks.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// Reads the Netscape bookmark HTML that every browser and bookmarking service exports, as
// tolerantly as a browser parses it: the HTML5 parser (gumbo) accepts unclosed <DT> and <p>,
// any letter case, a missing DOCTYPE or outer <DL>, and decodes entities exactly as a browser
// does (so "&note=" inside an address stays as written). Each <H3> folder holds the next
// <DL>, also when a <DD> description stands between them.
//
// Firefox's own layout (a folder marked UNFILED_BOOKMARKS_FOLDER) puts the links of its
// bookmarks menu at the top level: they go to "书签菜单"; loose top-level links of any other
// file go to "未分类". The folders marked as the toolbar and the unfiled bookmarks are named
// like the roots of the other formats ("书签工具栏", "其他书签"); any other top-level folder
// keeps its own name, so a file written by NetscapeBookmarkWriter reads back group for group.
class NetscapeBookmarkReader
{
public:
    // 100,000 links take about 20 MB.
    static constexpr qint64 maxFileBytes = qint64(128) * 1024 * 1024;
    // Of elements, as estimated before parsing: deeper markup makes an HTML5 tree builder slow
    // (every scope check walks the open elements), so it is refused before it reaches gumbo.
    static constexpr int maxNestingDepth = 256;
    // Of open elements walked while building the tree (HtmlNestingEstimate::Result::work): a
    // real file of 100,000 links needs about a million, this limit costs gumbo about 2 s.
    static constexpr qint64 maxParseWork = 100'000'000;

    // A bookmark file: the Netscape DOCTYPE, or markup with <DT> and <A> near its start.
    static bool looksLikeBookmarkHtml(QByteArrayView contents);

    // A large file of the plain shape browsers write is cut into pieces parsed on several
    // cores (BookmarkHtmlPieces); the result is the same as of one tree. Whole never cuts, and
    // SmallPieces cuts even small files, so that tests can compare the two.
    enum class ReadMode { Automatic, Whole, SmallPieces };

    // On failure returns nothing and sets error to why. piecesUsed gets how many pieces were
    // parsed (1 when the file was read whole).
    static std::optional<ImportedBookmarks> read(const QByteArray &contents, QString *error,
        ReadMode mode = ReadMode::Automatic, int *piecesUsed = nullptr);
};
