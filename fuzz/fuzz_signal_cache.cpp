// The analytics client's cache file, read at start-up. Whatever it reads must survive being
// written back: a file we wrote that we cannot read again loses every record in it.
#include "Cairn/SignalPostBody.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto records = Cairn::decodeCacheFile(bytes);
    if (!records)
        return 0;
    const auto reread = Cairn::decodeCacheFile(Cairn::encodeCacheFile(*records));
    if (!reread || reread->size() != records->size())
        __builtin_trap();
    for (size_t i = 0; i < records->size(); ++i) {
        const Cairn::SignalPostBody &a = (*records)[i], &b = (*reread)[i];
        if (a.appID != b.appID || a.type != b.type || a.payload != b.payload || a.isTestMode != b.isTestMode)
            __builtin_trap();
    }
    return 0;
}
