#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace Cairn {

class ClientDefaults;

// The last free trial, kept under "lastTrial" in the client's private suite until it converts
// or ends.
struct StoredTrial
{
    QString productID;
    quint64 originalTransactionID = 0;

    static constexpr const char *key = "lastTrial";

    // {"productID": ..., "originalTransactionID": ...}; the identifier as an exact integer.
    QByteArray toJson() const;
    static std::optional<StoredTrial> fromJson(const QByteArray &json);

    // Absent when none is stored, when `defaults` is null or when the value is unreadable.
    static std::optional<StoredTrial> load(const ClientDefaults *defaults);
    void save(ClientDefaults *defaults) const;
    static void remove(ClientDefaults *defaults);

    friend bool operator==(const StoredTrial &, const StoredTrial &) = default;
};

} // namespace Cairn
