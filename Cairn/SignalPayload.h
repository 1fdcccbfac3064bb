#pragma once

#include "Cairn/TelemetryManagerConfiguration.h"

#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Cairn {

// The conversions between Qt's texts and the payload's UTF-8 strings.
std::string utf8(const QString &text);
QString fromUtf8(const std::string &text);

// The payload of one record: UTF-8 key/value pairs sorted by key, so that saving and loading
// large caches stays cheap. Built once off the main thread.
class SignalPayload
{
public:
    using Entry = std::pair<std::string, std::string>;

    SignalPayload() = default;
    static SignalPayload fromParameters(const Parameters &parameters);
    // Takes entries in any order; a later entry wins over an earlier one with the same key.
    static SignalPayload fromEntries(std::vector<Entry> entries);

    Parameters toParameters() const;
    std::optional<QString> value(const QString &key) const;
    bool contains(const QString &key) const { return value(key).has_value(); }
    int size() const { return int(m_entries.size()); }
    const std::vector<Entry> &entries() const { return m_entries; }

    friend bool operator==(const SignalPayload &, const SignalPayload &) = default;

private:
    std::vector<Entry> m_entries;
};

} // namespace Cairn
