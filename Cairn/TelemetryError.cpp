#include "Cairn/TelemetryError.h"

#include <optional>

namespace Cairn {

QString TelemetryError::text() const
{
    switch (kind) {
    case Kind::invalidStatusCode:
        return QStringLiteral("invalidStatusCode(statusCode: %1)").arg(statusCode);
    case Kind::unauthorised:
        return QStringLiteral("unauthorised");
    case Kind::forbidden:
        return QStringLiteral("forbidden");
    case Kind::payloadTooLarge:
        return QStringLiteral("payloadTooLarge");
    case Kind::invalidEndpointUrl:
        return QStringLiteral("invalidEndpointUrl");
    }
    return QString();
}

QString TelemetryError::localizedDescription() const
{
    switch (kind) {
    case Kind::invalidStatusCode:
        return QStringLiteral("Invalid status code %1").arg(statusCode);
    case Kind::unauthorised:
        return QStringLiteral("Unauthorized (401)");
    case Kind::forbidden:
        return QStringLiteral("Forbidden (403)");
    case Kind::payloadTooLarge:
        return QStringLiteral("Payload is too large (413)");
    case Kind::invalidEndpointUrl:
        return QStringLiteral("Invalid endpoint URL");
    }
    return QString();
}

std::optional<TelemetryError> TelemetryError::classify(int httpStatus)
{
    if (httpStatus >= 200 && httpStatus <= 299)
        return std::nullopt;
    switch (httpStatus) {
    case 401:
        return TelemetryError { Kind::unauthorised, 0 };
    case 403:
        return TelemetryError { Kind::forbidden, 0 };
    case 413:
        return TelemetryError { Kind::payloadTooLarge, 0 };
    default:
        return TelemetryError { Kind::invalidStatusCode, httpStatus };
    }
}

} // namespace Cairn
