#pragma once

#include <QString>
#include <optional>

namespace Cairn {

// The classified failures of a POST.
struct TelemetryError
{
    enum class Kind { invalidStatusCode, unauthorised, forbidden, payloadTooLarge, invalidEndpointUrl };
    Kind kind = Kind::invalidStatusCode;
    int statusCode = 0; // for invalidStatusCode

    // The case name with its payload, e.g. "unauthorised" or "invalidStatusCode(statusCode: 500)".
    QString text() const;
    // The human-readable description, e.g. "Unauthorized (401)".
    QString localizedDescription() const;

    // std::nullopt for 2xx.
    static std::optional<TelemetryError> classify(int httpStatus);
};

} // namespace Cairn
