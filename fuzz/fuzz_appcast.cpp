// The update feed, as the updater reads it from the server.
#include "update/framework/Appcast.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray document(reinterpret_cast<const char *>(data), qsizetype(size));
    const AppcastParseResult result = parseAppcast(document);
    if (result.endedEarly && result.error.isEmpty())
        __builtin_trap(); // a feed cut short is never taken as whole
    return 0;
}
