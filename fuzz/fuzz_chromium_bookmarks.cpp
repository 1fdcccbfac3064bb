// The Chromium "Bookmarks" reader on the JSON trees an import hands it: parsed as the import
// parses them, no deeper than the import lets through.
#include "exchange/ChromiumBookmarkReader.h"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

using Json = nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto tooDeep = [](int depth, Json::parse_event_t, Json &) {
        if (depth > 512)
            throw std::length_error("nested too deep");
        return true;
    };
    Json root;
    try {
        root = Json::parse(data, data + size, tooDeep);
    } catch (const std::exception &) {
        return 0;
    }
    if (!ChromiumBookmarkReader::looksLikeChromium(root))
        return 0;
    try {
        QString error;
        const auto bookmarks = ChromiumBookmarkReader::fromJson(root, &error);
        if (!bookmarks && error.isEmpty())
            __builtin_trap();
    } catch (const Json::exception &) {
        // The import reports these as a broken file.
    }
    return 0;
}
