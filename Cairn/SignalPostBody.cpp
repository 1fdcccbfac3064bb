#include "Cairn/SignalPostBody.h"

#include <algorithm>

namespace Cairn {

namespace {
constexpr qint64 referenceDateOffsetMSecs = 978307200000LL; // 2001-01-01T00:00:00Z since 1970

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

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

QString SignalPostBody::description() const
{
    QString text = QStringLiteral("SignalPostBody(receivedAt: %1, appID: %2, clientUser: %3, sessionID: %4, type: %5, floatValue: %6, isTestMode: %7, payload: [")
                       .arg(wireDate(receivedAt), appID, clientUser, sessionID, type,
                           floatValue ? QString::number(*floatValue, 'g', 17) : QStringLiteral("nil"), isTestMode);
    bool first = true;
    for (const auto &[key, value] : payload.entries()) {
        if (!first)
            text += QStringLiteral(", ");
        first = false;
        text += QStringLiteral("\"") + fromUtf8(key) + QStringLiteral("\": \"") + fromUtf8(value) + QStringLiteral("\"");
    }
    text += QStringLiteral("])");
    return text;
}

QString wireDate(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) + QStringLiteral("+0000");
}

double referenceDateSeconds(const QDateTime &moment)
{
    return double(moment.toMSecsSinceEpoch() - referenceDateOffsetMSecs) / 1000.0;
}

QDateTime fromReferenceDateSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)) + referenceDateOffsetMSecs, Qt::UTC);
}

namespace {
template<typename Json>
Json recordJson(const SignalPostBody &record, Json receivedAt)
{
    Json object = Json::object();
    object["receivedAt"] = std::move(receivedAt);
    object["appID"] = utf8(record.appID);
    object["clientUser"] = utf8(record.clientUser);
    object["sessionID"] = utf8(record.sessionID);
    object["type"] = utf8(record.type);
    if (record.floatValue)
        object["floatValue"] = *record.floatValue;
    Json payload = Json::object();
    for (const auto &[key, value] : record.payload.entries())
        payload[key] = value;
    object["payload"] = std::move(payload);
    object["isTestMode"] = utf8(record.isTestMode);
    return object;
}

QByteArray dumpBytes(const nlohmann::ordered_json &json)
{
    const std::string text = json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}
} // namespace

nlohmann::ordered_json toWireJson(const SignalPostBody &record)
{
    return recordJson<nlohmann::ordered_json>(record, utf8(wireDate(record.receivedAt)));
}

QByteArray encodeWireBatch(const SignalBatch &batch)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto &record : batch)
        array.push_back(toWireJson(record));
    return dumpBytes(array);
}

QByteArray encodeCacheFile(const SignalBatch &records)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto &record : records)
        array.push_back(recordJson<nlohmann::ordered_json>(record, referenceDateSeconds(record.receivedAt)));
    return dumpBytes(array);
}

std::optional<SignalBatch> decodeCacheFile(const QByteArray &bytes)
{
    const auto json = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (json.is_discarded() || !json.is_array())
        return std::nullopt;
    SignalBatch records;
    records.reserve(json.size());
    const auto text = [](const nlohmann::json &object, const char *key, QString &out) {
        const auto it = object.find(key);
        if (it == object.end() || !it->is_string())
            return false;
        out = fromUtf8(it->get_ref<const std::string &>());
        return true;
    };
    for (const auto &item : json) {
        if (!item.is_object())
            return std::nullopt;
        SignalPostBody record;
        const auto receivedAt = item.find("receivedAt");
        if (receivedAt == item.end() || !receivedAt->is_number())
            return std::nullopt;
        record.receivedAt = fromReferenceDateSeconds(receivedAt->get<double>());
        if (!text(item, "appID", record.appID) || !text(item, "clientUser", record.clientUser)
            || !text(item, "sessionID", record.sessionID) || !text(item, "type", record.type)
            || !text(item, "isTestMode", record.isTestMode))
            return std::nullopt;
        const auto floatValue = item.find("floatValue");
        if (floatValue != item.end() && !floatValue->is_null()) {
            if (!floatValue->is_number())
                return std::nullopt;
            record.floatValue = floatValue->get<double>();
        }
        const auto payload = item.find("payload");
        if (payload == item.end() || !payload->is_object())
            return std::nullopt;
        std::vector<SignalPayload::Entry> entries;
        entries.reserve(payload->size());
        for (auto it = payload->begin(); it != payload->end(); ++it) {
            if (!it.value().is_string())
                return std::nullopt;
            entries.emplace_back(it.key(), it.value().get_ref<const std::string &>());
        }
        record.payload = SignalPayload::fromEntries(std::move(entries));
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace Cairn
