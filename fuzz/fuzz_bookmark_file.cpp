// The one entry of a bookmark import: the format told from the content, then its reader.
#include "exchange/BookmarkFileReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    const BookmarkReadResult result = BookmarkFileReader::read(contents);
    // Either records or a failure that says why, never both or neither.
    if (result.bookmarks.has_value() == (result.failure != BookmarkReadFailure::None))
        __builtin_trap();
    if (!result.bookmarks && result.error.isEmpty())
        __builtin_trap();
    return 0;
}
