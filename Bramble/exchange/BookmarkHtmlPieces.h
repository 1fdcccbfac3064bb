#pragma once

#include <QByteArrayView>
#include <vector>

// Where a large bookmark file of the plain shape browsers write can be cut, so that its pieces
// parse on several cores. A piece starts at a <DT> outside any link or heading; parsed after as
// many <DL> tags as lists are open there, it yields the same elements as within the whole file.
// That holds only for markup of that shape, so any other file (another tag, an unclosed list,
// link or heading, an odd comment) is not cut at all.
class BookmarkHtmlPieces
{
public:
    struct Piece
    {
        qsizetype offset = 0;
        qsizetype size = 0;
        // Lists open where the piece starts.
        int depth = 0;
    };

    // Cutting costs a pass over the file; below this it does not pay.
    static constexpr qsizetype minPieceBytes = 1024 * 1024;

    // At most count pieces of at least minBytes, covering the whole text in order; empty when
    // the text may not be cut.
    static std::vector<Piece> split(QByteArrayView html, int count, qsizetype minBytes = minPieceBytes);
};
