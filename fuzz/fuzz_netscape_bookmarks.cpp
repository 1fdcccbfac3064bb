// The bookmark HTML reader on its own, past the format check, so that every input reaches it.
// A file read in pieces must give exactly what one tree of it gives.
#include "exchange/NetscapeBookmarkReader.h"

#include <cstddef>
#include <cstdint>

namespace {

using Mode = NetscapeBookmarkReader::ReadMode;

// What the file gives no date is dated when read, a moment apart in two reads.
bool sameDate(const QDateTime &a, const QDateTime &b)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return a == b || (qAbs(a.secsTo(now)) < 600 && qAbs(b.secsTo(now)) < 600);
}

bool same(const ImportedBookmarks &a, const ImportedBookmarks &b)
{
    if (a.source != b.source || a.skippedNonWeb != b.skippedNonWeb
        || a.data.groups.size() != b.data.groups.size())
        return false;
    for (qsizetype g = 0; g < a.data.groups.size(); ++g) {
        const ExportGroup &x = a.data.groups[g];
        const ExportGroup &y = b.data.groups[g];
        if (x.name != y.name || !sameDate(x.createdAt, y.createdAt)
            || x.bookmarks.size() != y.bookmarks.size())
            return false;
        for (qsizetype i = 0; i < x.bookmarks.size(); ++i) {
            const ExportItem &p = x.bookmarks[i];
            const ExportItem &q = y.bookmarks[i];
            if (p.urlString != q.urlString || p.title != q.title || p.summary != q.summary
                || p.iconData != q.iconData || !sameDate(p.createdAt, q.createdAt))
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const auto whole = NetscapeBookmarkReader::read(contents, &error, Mode::Whole);
    if (!whole && error.isEmpty())
        __builtin_trap();
    QString piecesError;
    int pieces = 0;
    const auto cut = NetscapeBookmarkReader::read(contents, &piecesError, Mode::SmallPieces, &pieces);
    if (pieces > 1 && (bool(whole) != bool(cut) || (whole && !same(*whole, *cut)) || error != piecesError))
        __builtin_trap();
    return 0;
}
