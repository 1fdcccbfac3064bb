#include "Cairn/Purchases.h"

#include "Cairn/Cairn.h"
#include "Cairn/ClientDefaults.h"
#include "Cairn/Clock.h"
#include "Cairn/CurrencyRates.h"
#include "Cairn/PresetSignals.h"
#include "Cairn/SerialQueue.h"
#include "Cairn/StoredTrial.h"
#include "Cairn/TelemetryManager.h"

#include <QJsonValue>
#include <atomic>

namespace Cairn {

namespace {
    std::shared_ptr<ClientDefaults> currentClientDefaults()
    {
        const auto manager = installedManager();
        return manager ? manager->clientDefaults() : nullptr;
    }

    std::optional<QString> rawText(const QJsonObject &raw, const char *key)
    {
        const QJsonValue value = raw.value(QLatin1String(key));
        if (!value.isString() || value.toString().isEmpty())
            return std::nullopt;
        return value.toString();
    }
} // namespace

std::optional<double> StoreTransaction::effectivePrice() const
{
    if (price)
        return price;
    const QJsonValue value = rawRecord.value(QLatin1String("price"));
    if (value.isDouble())
        return value.toDouble() / 1000.0;
    return std::nullopt;
}

std::optional<QString> StoreTransaction::effectiveCurrencyCode() const
{
    if (currencyCode)
        return currencyCode;
    return rawText(rawRecord, "currency");
}

QString StoreTransaction::effectiveCountryCode() const
{
    if (storefrontCountryCode)
        return *storefrontCountryCode;
    return rawText(rawRecord, "storefront").value_or(QString());
}

Parameters purchaseParameters(const StoreTransaction &transaction)
{
    Parameters parameters {
        { QStringLiteral("Cairn.Purchase.type"),
            transaction.subscriptionGroupID ? QStringLiteral("subscription")
                                            : QStringLiteral("one-time-purchase") },
        { QStringLiteral("Cairn.Purchase.countryCode"), transaction.effectiveCountryCode() },
        { QStringLiteral("Cairn.Purchase.productID"), transaction.productID },
    };
    if (const auto currency = transaction.effectiveCurrencyCode())
        parameters.insert(QStringLiteral("Cairn.Purchase.currencyCode"), *currency);
    return parameters;
}

double usdValue(const StoreTransaction &transaction)
{
    const auto price = transaction.effectivePrice();
    return price ? usdAmount(*price, transaction.effectiveCurrencyCode()) : 0.0;
}

bool startsFreeTrial(const StoreTransaction &transaction)
{
    const auto price = transaction.effectivePrice();
    return transaction.productType == ProductType::autoRenewable && transaction.offer
        && transaction.offer->type == OfferType::introductory && price && *price == 0.0;
}

void purchaseCompleted(const StoreTransaction &transaction, const Parameters &parameters,
    const std::optional<QString> &customUserID)
{
    const Parameters combined = mergedParameters(purchaseParameters(transaction), parameters);
    if (startsFreeTrial(transaction)) {
        recordSignal(QStringLiteral("Cairn.Purchase.freeTrialStarted"), combined, std::nullopt, customUserID);
        TrialConversionTracker::shared().trialStarted(transaction);
        return;
    }
    recordSignal(QStringLiteral("Cairn.Purchase.completed"), combined, usdValue(transaction), customUserID);
}

void storeTransactionUpdated(const StoreTransaction &transaction, bool verified)
{
    TrialConversionTracker::shared().transactionUpdated(transaction, verified);
}

TrialConversionTracker &TrialConversionTracker::shared()
{
    // Never deleted: updates may still arrive during shutdown.
    static auto *instance = new TrialConversionTracker;
    return *instance;
}

TrialConversionTracker::TrialConversionTracker()
    : m_persistenceQueue(std::make_unique<SerialQueue>(QStringLiteral("com.cairn.trialtracker.persistence")))
{ }

TrialConversionTracker::~TrialConversionTracker()
{
    m_persistenceQueue->waitForDone();
}

void TrialConversionTracker::trialStarted(const StoreTransaction &transaction)
{
    const StoredTrial trial { transaction.productID, transaction.originalID };
    m_persistenceQueue->async([this, trial, defaults = currentClientDefaults()] {
        trial.save(defaults.get());
        m_watchingUpdates = true;
    });
}

void TrialConversionTracker::transactionUpdated(const StoreTransaction &transaction, bool verified)
{
    if (!verified)
        return;
    m_persistenceQueue->async(
        [this, transaction, defaults = currentClientDefaults()] { handleUpdate(transaction, defaults); });
}

void TrialConversionTracker::handleUpdate(
    const StoreTransaction &transaction, const std::shared_ptr<ClientDefaults> &defaults)
{
    if (!m_watchingUpdates)
        return;
    const auto trial = StoredTrial::load(defaults.get());
    if (!trial || trial->productID != transaction.productID
        || trial->originalTransactionID != transaction.originalID)
        return;

    const bool ended = transaction.revocationDate
        || (transaction.expirationDate && *transaction.expirationDate < Clock::now())
        || transaction.isUpgraded;
    if (ended) {
        StoredTrial::remove(defaults.get());
        m_watchingUpdates = false;
        return;
    }
    const bool stillFree = transaction.offer && transaction.offer->type == OfferType::introductory
        && transaction.offer->paymentMode == OfferPaymentMode::freeTrial;
    if (stillFree)
        return;

    recordSignal(QStringLiteral("Cairn.Purchase.convertedFromTrial"), purchaseParameters(transaction),
        usdValue(transaction), std::nullopt);
    StoredTrial::remove(defaults.get());
    m_watchingUpdates = false;
}

bool TrialConversionTracker::isWatchingUpdates()
{
    waitForIdle();
    return m_watchingUpdates;
}

void TrialConversionTracker::waitForIdle()
{
    m_persistenceQueue->waitForDone();
}

} // namespace Cairn
