// The Chromium "Bookmarks" reader on the JSON trees an import hands it.
#include "JsonTreeTarget.h"
#include "exchange/ChromiumBookmarkReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzJsonTreeReader(
        data, size, ChromiumBookmarkReader::looksLikeChromium, ChromiumBookmarkReader::fromJson);
}
