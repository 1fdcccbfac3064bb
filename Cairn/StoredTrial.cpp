#include "Cairn/StoredTrial.h"

#include "Cairn/ClientDefaults.h"

#include <nlohmann/json.hpp>

namespace Cairn {

QByteArray StoredTrial::toJson() const
{
    nlohmann::ordered_json json;
    json["productID"] = productID.toStdString();
    json["originalTransactionID"] = originalTransactionID;
    return QByteArray::fromStdString(json.dump());
}

std::optional<StoredTrial> StoredTrial::fromJson(const QByteArray &bytes)
{
    const auto json = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return std::nullopt;
    const auto product = json.find("productID");
    const auto original = json.find("originalTransactionID");
    if (product == json.end() || !product->is_string() || original == json.end()
        || !original->is_number_unsigned())
        return std::nullopt;
    return StoredTrial { QString::fromStdString(product->get<std::string>()), original->get<quint64>() };
}

std::optional<StoredTrial> StoredTrial::load(const ClientDefaults *defaults)
{
    if (!defaults)
        return std::nullopt;
    const QVariant value = defaults->value(QString::fromLatin1(key));
    if (!value.isValid())
        return std::nullopt;
    return fromJson(value.toByteArray());
}

void StoredTrial::save(ClientDefaults *defaults) const
{
    if (defaults)
        defaults->setValue(QString::fromLatin1(key), toJson());
}

void StoredTrial::remove(ClientDefaults *defaults)
{
    if (defaults)
        defaults->remove(QString::fromLatin1(key));
}

} // namespace Cairn
