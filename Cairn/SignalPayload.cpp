#include "Cairn/SignalPayload.h"

#include <algorithm>

namespace Cairn {

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

namespace {
    bool keyLess(const SignalPayload::Entry &a, const SignalPayload::Entry &b)
    {
        return a.first < b.first;
    }
} // namespace

SignalPayload SignalPayload::fromParameters(const Parameters &parameters)
{
    std::vector<Entry> entries;
    entries.reserve(size_t(parameters.size()));
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        entries.emplace_back(utf8(it.key()), utf8(it.value()));
    return fromEntries(std::move(entries));
}

SignalPayload SignalPayload::fromEntries(std::vector<Entry> entries)
{
    SignalPayload payload;
    if (!std::is_sorted(entries.begin(), entries.end(), keyLess)) {
        // Stable, so that among equal keys the later entry stays last and wins below.
        std::stable_sort(entries.begin(), entries.end(), keyLess);
    }
    payload.m_entries.reserve(entries.size());
    for (auto &entry : entries) {
        if (!payload.m_entries.empty() && payload.m_entries.back().first == entry.first)
            payload.m_entries.back().second = std::move(entry.second);
        else
            payload.m_entries.push_back(std::move(entry));
    }
    return payload;
}

Parameters SignalPayload::toParameters() const
{
    Parameters result;
    for (const auto &[key, value] : m_entries)
        result.insert(fromUtf8(key), fromUtf8(value));
    return result;
}

std::optional<QString> SignalPayload::value(const QString &key) const
{
    const std::string wanted = utf8(key);
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), wanted,
        [](const Entry &entry, const std::string &k) { return entry.first < k; });
    if (it == m_entries.end() || it->first != wanted)
        return std::nullopt;
    return fromUtf8(it->second);
}

} // namespace Cairn
