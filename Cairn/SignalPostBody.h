#pragma once

#include "Cairn/SignalPayload.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Cairn {

// The wire record of one signal.
struct SignalPostBody
{
    QDateTime receivedAt;
    QString appID;
    QString clientUser;
    QString sessionID;
    QString type;
    std::optional<double> floatValue;
    SignalPayload payload;
    QString isTestMode;

    // A readable rendering for the "Process signal: " log line.
    QString description() const;

    friend bool operator==(const SignalPostBody &, const SignalPostBody &) = default;
};

using SignalBatch = std::vector<SignalPostBody>;

// Dates on the wire: "yyyy-MM-dd'T'HH:mm:ssZ" in GMT, e.g. 2025-01-31T13:45:10+0000.
QString wireDate(const QDateTime &moment);
// The cache file's dates: seconds since 2001-01-01T00:00:00Z as a double, within about
// 300,000 years of it (an invalid date beyond).
inline constexpr double maxReferenceDateSeconds = 1e13;
double referenceDateSeconds(const QDateTime &moment);
QDateTime fromReferenceDateSeconds(double seconds);

// One record as the wire encoder writes it ("floatValue" left out when absent).
nlohmann::ordered_json toWireJson(const SignalPostBody &record);
// A request body: a JSON array of wire records.
QByteArray encodeWireBatch(const SignalBatch &batch);

// The cache file: a JSON array of records with the wire keys, receivedAt as a number. A
// hand-written codec, because the file may hold many thousands of records and is read and
// written on the way in and out of the program: appendCacheRecord writes one record's JSON
// object, encodeCacheFile the whole array.
void appendCacheRecord(std::string &out, const SignalPostBody &record);
QByteArray encodeCacheFile(const SignalBatch &records);
// std::nullopt when the bytes are not such an array (any malformed record fails the whole).
std::optional<SignalBatch> decodeCacheFile(const QByteArray &bytes);

} // namespace Cairn
