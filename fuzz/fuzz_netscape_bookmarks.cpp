// The bookmark HTML reader on its own, past the format check, so that every input reaches it.
#include "exchange/NetscapeBookmarkReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const auto bookmarks = NetscapeBookmarkReader::read(contents, &error);
    if (!bookmarks && error.isEmpty())
        __builtin_trap();
    return 0;
}
