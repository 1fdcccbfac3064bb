#pragma once

#include "Cairn/TelemetryManagerConfiguration.h"

#include <QDateTime>
#include <QJsonObject>
#include <memory>
#include <optional>

namespace Cairn {

class ClientDefaults;
class SerialQueue;

enum class ProductType { consumable, nonConsumable, autoRenewable, nonRenewable };
enum class OfferType { introductory, promotional, code, winBack };
enum class OfferPaymentMode { freeTrial, payAsYouGo, payUpFront };

struct TransactionOffer
{
    OfferType type = OfferType::introductory;
    std::optional<OfferPaymentMode> paymentMode;
};

// One purchase as the host's store reports it. There is no store framework here: the host
// fills this in from whatever store it sells through.
struct StoreTransaction
{
    quint64 id = 0;
    quint64 originalID = 0;
    QString productID;
    ProductType productType = ProductType::nonConsumable;
    std::optional<QString> subscriptionGroupID;
    std::optional<double> price;
    std::optional<QString> currencyCode;
    std::optional<QString> storefrontCountryCode;
    std::optional<TransactionOffer> offer;
    std::optional<QDateTime> expirationDate;
    std::optional<QDateTime> revocationDate;
    bool isUpgraded = false;
    // The store's own record, consulted for a price ("price", in thousandths of the unit), a
    // currency ("currency") or a storefront ("storefront") the fields above leave out.
    QJsonObject rawRecord;

    std::optional<double> effectivePrice() const;
    std::optional<QString> effectiveCurrencyCode() const;
    QString effectiveCountryCode() const;
};

Parameters purchaseParameters(const StoreTransaction &transaction);
double usdValue(const StoreTransaction &transaction);
// An introductory offer at no cost on an auto-renewable subscription.
bool startsFreeTrial(const StoreTransaction &transaction);

// "Cairn.Purchase.freeTrialStarted" for a free trial (which is then remembered for its
// conversion), otherwise "Cairn.Purchase.completed" with the value in US dollars.
void purchaseCompleted(const StoreTransaction &transaction, const Parameters &parameters = {},
    const std::optional<QString> &customUserID = std::nullopt);

// Where the host feeds the store's transaction updates (renewals, refunds, upgrades).
// Unverified updates are ignored.
void storeTransactionUpdated(const StoreTransaction &transaction, bool verified = true);

// Remembers the last free trial and watches the updates for its first paid period. All
// reads and writes of the stored trial, and the handling of updates, run in order on one
// serial worker, so an update never misses a trial stored just before it.
class TrialConversionTracker
{
public:
    static TrialConversionTracker &shared();

    TrialConversionTracker();
    ~TrialConversionTracker();
    TrialConversionTracker(const TrialConversionTracker &) = delete;
    TrialConversionTracker &operator=(const TrialConversionTracker &) = delete;

    void trialStarted(const StoreTransaction &transaction);
    void transactionUpdated(const StoreTransaction &transaction, bool verified = true);
    // Whether updates are being watched: stopped after a conversion or a cancelled trial,
    // started again by the next trial. Waits for the pending jobs first (tests).
    bool isWatchingUpdates();
    // Blocks until every job submitted so far has run (tests, termination).
    void waitForIdle();

private:
    void handleUpdate(const StoreTransaction &transaction, const std::shared_ptr<ClientDefaults> &defaults);

    std::unique_ptr<SerialQueue> m_persistenceQueue;
    // Touched only by jobs on the queue.
    bool m_watchingUpdates = true;
};

} // namespace Cairn
