#include "Cairn/PresetSignals.h"

#include "Cairn/Cairn.h"
#include "Cairn/TelemetryManager.h"

namespace Cairn {

namespace {
    void send(const QString &name, Parameters fixed, const Parameters &parameters,
        const std::optional<QString> &customUserID, std::optional<double> floatValue = std::nullopt)
    {
        recordSignal(name, mergedParameters(std::move(fixed), parameters), floatValue, customUserID);
    }

    Parameters errorParameters(const QString &id, const std::optional<ErrorCategory> &category,
        const std::optional<QString> &message)
    {
        Parameters fixed { { QStringLiteral("Cairn.Error.id"), id } };
        if (category)
            fixed.insert(QStringLiteral("Cairn.Error.category"), rawValue(*category));
        if (message)
            fixed.insert(QStringLiteral("Cairn.Error.message"), *message);
        return fixed;
    }
} // namespace

Parameters mergedParameters(Parameters fixed, const Parameters &parameters)
{
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        fixed.insert(it.key(), it.value());
    return fixed;
}

void logClientMessage(LogLevel level, const QString &message)
{
    if (const auto manager = installedManager()) {
        if (const auto handler = manager->configuration()->logHandler())
            handler->log(level, message);
        return;
    }
    LogHandler::standardError().log(level, message);
}

void userAcquired(
    const QString &channel, const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Acquisition.userAcquired"),
        { { QStringLiteral("Cairn.Acquisition.channel"), channel } }, parameters, customUserID);
}

void leadStarted(
    const QString &leadID, const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Acquisition.leadStarted"),
        { { QStringLiteral("Cairn.Acquisition.leadID"), leadID } }, parameters, customUserID);
}

void leadConverted(
    const QString &leadID, const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Acquisition.leadConverted"),
        { { QStringLiteral("Cairn.Acquisition.leadID"), leadID } }, parameters, customUserID);
}

void onboardingCompleted(const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Activation.onboardingCompleted"), {}, parameters, customUserID);
}

void coreFeatureUsed(
    const QString &featureName, const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Activation.coreFeatureUsed"),
        { { QStringLiteral("Cairn.Activation.featureName"), featureName } }, parameters, customUserID);
}

void referralSent(int receiversCount, const std::optional<QString> &kind, const Parameters &parameters,
    const std::optional<QString> &customUserID)
{
    Parameters fixed { { QStringLiteral("Cairn.Referral.receiversCount"), QString::number(receiversCount) } };
    if (kind)
        fixed.insert(QStringLiteral("Cairn.Referral.kind"), *kind);
    send(QStringLiteral("Cairn.Referral.sent"), std::move(fixed), parameters, customUserID);
}

void userRatingSubmitted(int rating, const std::optional<QString> &comment, const Parameters &parameters,
    const std::optional<QString> &customUserID)
{
    if (rating < 0 || rating > 10) {
        logClientMessage(LogLevel::error, QStringLiteral("Rating must be between 0 and 10"));
        return;
    }
    Parameters fixed { { QStringLiteral("Cairn.Referral.ratingValue"), QString::number(rating) } };
    if (comment)
        fixed.insert(QStringLiteral("Cairn.Referral.ratingComment"), *comment);
    send(QStringLiteral("Cairn.Referral.userRatingSubmitted"), std::move(fixed), parameters, customUserID);
}

void paywallShown(
    const QString &reason, const Parameters &parameters, const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Revenue.paywallShown"),
        { { QStringLiteral("Cairn.Revenue.paywallShowReason"), reason } }, parameters, customUserID);
}

void errorOccurred(const QString &id, const std::optional<ErrorCategory> &category,
    const std::optional<QString> &message, const Parameters &parameters, std::optional<double> floatValue,
    const std::optional<QString> &customUserID)
{
    send(QStringLiteral("Cairn.Error.occurred"), errorParameters(id, category, message), parameters,
        customUserID, floatValue);
}

void errorOccurred(const IdentifiableError &error, ErrorCategory category, const Parameters &parameters,
    std::optional<double> floatValue, const std::optional<QString> &customUserID)
{
    errorOccurred(error.id(), category, error.localizedDescription(), parameters, floatValue, customUserID);
}

void errorOccurred(const IdentifiableError &error, ErrorCategory category,
    const std::optional<QString> &message, const Parameters &parameters, std::optional<double> floatValue,
    const std::optional<QString> &customUserID)
{
    errorOccurred(error.id(), category, message, parameters, floatValue, customUserID);
}

} // namespace Cairn
