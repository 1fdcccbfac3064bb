#pragma once

// A reader of JSON trees on what an import hands it: parsed as the import parses them, no
// deeper than the import lets through, and a failure always says why.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

template<typename LooksLike, typename FromJson>
int fuzzJsonTreeReader(const uint8_t *data, size_t size, LooksLike looksLike, FromJson fromJson)
{
    using Json = nlohmann::json;
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
    if (!looksLike(root))
        return 0;
    try {
        QString error;
        const auto bookmarks = fromJson(root, &error);
        if (!bookmarks && error.isEmpty())
            __builtin_trap();
    } catch (const Json::exception &) {
        // The import reports these as a broken file.
    }
    return 0;
}
