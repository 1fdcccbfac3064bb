#pragma once

// Ready-made signals under the client's own "Cairn." names. Each builds its fixed parameters,
// writes the caller's parameters over them (the caller wins on equal keys) and records the
// signal without the name prefix or the reserved-name checks of Cairn::signal.

#include "Cairn/ErrorCategory.h"
#include "Cairn/IdentifiableError.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <optional>

namespace Cairn {

void userAcquired(const QString &channel, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);
void leadStarted(const QString &leadID, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);
void leadConverted(const QString &leadID, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);

void onboardingCompleted(
    const Parameters &parameters = {}, const std::optional<QString> &customUserID = std::nullopt);
void coreFeatureUsed(const QString &featureName, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);

void referralSent(int receiversCount = 1, const std::optional<QString> &kind = std::nullopt,
    const Parameters &parameters = {}, const std::optional<QString> &customUserID = std::nullopt);
// A rating outside 0...10 is refused with the error line "Rating must be between 0 and 10".
void userRatingSubmitted(int rating, const std::optional<QString> &comment = std::nullopt,
    const Parameters &parameters = {}, const std::optional<QString> &customUserID = std::nullopt);

void paywallShown(const QString &reason, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);

void errorOccurred(const QString &id, const std::optional<ErrorCategory> &category = std::nullopt,
    const std::optional<QString> &message = std::nullopt, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);
// The message is the error's localised description.
void errorOccurred(const IdentifiableError &error, ErrorCategory category, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);
// The given message replaces the error's description; absent, no message is sent.
void errorOccurred(const IdentifiableError &error, ErrorCategory category,
    const std::optional<QString> &message, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);

// The fixed entries with the caller's written over them.
Parameters mergedParameters(Parameters fixed, const Parameters &parameters);
// The log handler of the installed configuration (the stock one without a manager).
void logClientMessage(LogLevel level, const QString &message);

} // namespace Cairn
