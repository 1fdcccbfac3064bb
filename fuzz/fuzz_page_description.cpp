// The description scrape of a fetched page.
#include "metadata/MetadataFetcher.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto description = MetadataFetcher::pageDescription(body);
    if (description && description->size() > body.size())
        __builtin_trap(); // a scrape takes a part of the page, never more
    return 0;
}
