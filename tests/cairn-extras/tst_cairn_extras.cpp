// The analytics client's ready-made signals: presets and errors, durations, navigation and
// purchases. Records are read from the installed manager's cache; the send timer waits an
// hour, so nothing leaves the process.
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <Cairn/Cairn.h>
#include <Cairn/ClientDefaults.h>
#include <Cairn/Clock.h>
#include <Cairn/CurrencyRates.h>
#include <Cairn/DurationSignalTracker.h>
#include <Cairn/IdentifiableError.h>
#include <Cairn/NavigationStatus.h>
#include <Cairn/PresetSignals.h>
#include <Cairn/Purchases.h>
#include <Cairn/SignalCache.h>
#include <Cairn/SignalManager.h>
#include <Cairn/StoredTrial.h>
#include <Cairn/TelemetryManager.h>
#include <QGuiApplication>
#include <QMutex>
#include <QTest>
#include <QUuid>
#include <QWindow>
#include <httplib.h>
#include <stdexcept>
#include <system_error>

using namespace Cairn;

namespace {
const QString kSentinel = QStringLiteral("test.sentinel");
const QDateTime kStart(QDate(2025, 3, 14), QTime(9, 0), Qt::UTC);

class LogCollector
{
public:
    LogHandler handler()
    {
        return LogHandler { LogLevel::debug, [this](LogLevel level, const QString &message) {
                               QMutexLocker locker(&m_mutex);
                               m_lines.append(logLevelName(level) + QStringLiteral(": ") + message);
                           } };
    }
    int count(const QString &line) const
    {
        QMutexLocker locker(&m_mutex);
        return int(m_lines.count(line));
    }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

SignalBatch pending()
{
    const auto manager = installedManager();
    return manager ? manager->signalManager().cache()->snapshot() : SignalBatch {};
}

// Everything recorded before a sentinel signal, once the sentinel has arrived: records are
// built in submission order, so this also proves that nothing else was sent.
SignalBatch settledRecords()
{
    recordSignal(kSentinel);
    if (!QTest::qWaitFor([] {
            const SignalBatch records = pending();
            return !records.empty() && records.back().type == kSentinel;
        }))
        return {};
    SignalBatch records = pending();
    records.pop_back();
    return records;
}

QString param(const SignalPostBody &record, const char *key)
{
    return record.payload.value(QString::fromLatin1(key)).value_or(QStringLiteral("<absent>"));
}

StoreTransaction euroPurchase()
{
    StoreTransaction t;
    t.id = 1;
    t.originalID = 1;
    t.productID = QStringLiteral("com.example.lifetime");
    t.price = 9.99;
    t.currencyCode = QStringLiteral("EUR");
    t.storefrontCountryCode = QStringLiteral("DEU");
    return t;
}

StoreTransaction trialStart(quint64 originalID)
{
    StoreTransaction t;
    t.id = originalID;
    t.originalID = originalID;
    t.productID = QStringLiteral("com.example.pro.monthly");
    t.productType = ProductType::autoRenewable;
    t.subscriptionGroupID = QStringLiteral("pro");
    t.price = 0.0;
    t.currencyCode = QStringLiteral("USD");
    t.storefrontCountryCode = QStringLiteral("USA");
    t.offer = TransactionOffer { OfferType::introductory, OfferPaymentMode::freeTrial };
    return t;
}

StoreTransaction renewalOf(const StoreTransaction &trial, double price)
{
    StoreTransaction t = trial;
    t.id = trial.id + 1000;
    t.price = price;
    t.offer.reset();
    t.expirationDate = Clock::now().addDays(30);
    return t;
}

class CustomError : public LocalizedError
{
public:
    QString localizedDescription() const override
    {
        return QStringLiteral("The group could not be renamed.");
    }
};
} // namespace

class TestCairnExtras : public QObject
{
    Q_OBJECT

private:
    TestHttpServer m_service;
    LogCollector *m_log = nullptr;

    std::shared_ptr<ClientDefaults> clientDefaults() { return installedManager()->clientDefaults(); }

private slots:
    void initTestCase()
    {
        m_service.server().Post(R"(/.*)", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("{}", "application/json");
        });
        QVERIFY(m_service.start());
    }

    void init()
    {
        m_log = new LogCollector;
        auto config = std::make_shared<TelemetryManagerConfiguration>(
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), QString(), QUrl(m_service.url()));
        config->setSendInterval(std::chrono::hours(1));
        config->setSessionStartDelay(std::chrono::hours(1));
        config->setSessionStatsEnabled(false);
        config->setLogHandler(m_log->handler());
        initialize(config);
        // The sender's first, immediate round has run: it cannot take what a test records.
        installedManager()->signalManager().waitForSender();
    }

    void cleanup()
    {
        DurationSignalTracker::shared().waitForIdle();
        TrialConversionTracker::shared().waitForIdle();
        deinitialize();
        Clock::useSystem();
        delete m_log;
        m_log = nullptr;
    }

    void ratingOutsideZeroToTenIsRefused()
    {
        userRatingSubmitted(11);
        userRatingSubmitted(-1);
        userRatingSubmitted(0);
        userRatingSubmitted(10, QString());
        const SignalBatch records = settledRecords();
        QCOMPARE(m_log->count(QStringLiteral("ERROR: Rating must be between 0 and 10")), 2);
        QCOMPARE(records.size(), size_t(2));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Referral.userRatingSubmitted"));
        QCOMPARE(param(records[0], "Cairn.Referral.ratingValue"), QStringLiteral("0"));
        QCOMPARE(param(records[0], "Cairn.Referral.ratingComment"), QStringLiteral("<absent>"));
        QCOMPARE(param(records[1], "Cairn.Referral.ratingValue"), QStringLiteral("10"));
        // An empty comment is still a comment.
        QCOMPARE(param(records[1], "Cairn.Referral.ratingComment"), QString());
    }

    void presetsLetTheCallerWinAndSkipReservedNameWarnings()
    {
        userAcquired(QStringLiteral("newsletter"),
            { { QStringLiteral("Cairn.Acquisition.channel"), QStringLiteral("override") },
                { QStringLiteral("campaign"), QStringLiteral("spring") } },
            QStringLiteral("user-7"));
        referralSent(3, QStringLiteral("email"));
        onboardingCompleted();
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(3));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Acquisition.userAcquired"));
        QCOMPARE(param(records[0], "Cairn.Acquisition.channel"), QStringLiteral("override"));
        QCOMPARE(param(records[0], "campaign"), QStringLiteral("spring"));
        QCOMPARE(records[0].clientUser, sha256Hex(QStringLiteral("user-7")));
        QVERIFY(!records[0].floatValue);
        QCOMPARE(param(records[1], "Cairn.Referral.receiversCount"), QStringLiteral("3"));
        QCOMPARE(param(records[1], "Cairn.Referral.kind"), QStringLiteral("email"));
        QCOMPARE(records[2].type, QStringLiteral("Cairn.Activation.onboardingCompleted"));
        // The client's own "Cairn." names are not the caller's mistake.
        QCOMPARE(m_log->count(QStringLiteral("ERROR: Sending signal with reserved prefix 'Cairn.' will cause "
                                             "unexpected behavior. Please use another prefix instead.")),
            0);
        QCOMPARE(
            m_log->count(QStringLiteral("ERROR: Sending parameter with reserved key prefix 'Cairn.' will "
                                        "cause unexpected behavior. Please use another prefix instead.")),
            0);
    }

    void errorWrappersDescribeTheWrappedError()
    {
        QCOMPARE(with(std::runtime_error("disk full"), QStringLiteral("save")).localizedDescription(),
            QStringLiteral("disk full"));
        const auto code = with(std::make_error_code(std::errc::permission_denied), QStringLiteral("open"));
        QCOMPARE(code.localizedDescription(),
            QString::fromStdString(std::make_error_code(std::errc::permission_denied).message()));
        QCOMPARE(code.id(), QStringLiteral("open"));
        QVERIFY(!code.localizedDescription().isEmpty());
        QCOMPARE(with(CustomError(), QStringLiteral("rename")).localizedDescription(),
            QStringLiteral("The group could not be renamed."));
        try {
            throw std::out_of_range("index 4 of 3");
        } catch (...) {
            QCOMPARE(with(std::current_exception(), QStringLiteral("x")).localizedDescription(),
                QStringLiteral("index 4 of 3"));
        }
        try {
            throw 42;
        } catch (...) {
            QCOMPARE(with(std::current_exception(), QStringLiteral("x")).localizedDescription(),
                QStringLiteral("Unknown exception"));
        }
    }

    void errorOccurredForms()
    {
        errorOccurred(QStringLiteral("only-id"));
        const AnyIdentifiableError failure
            = with(std::runtime_error("disk full"), QStringLiteral("export.write"));
        errorOccurred(failure, ErrorCategory::thrownException, Parameters {}, 2.0);
        errorOccurred(failure, ErrorCategory::userInput, QStringLiteral("Could not export"));
        errorOccurred(failure, ErrorCategory::appState, std::optional<QString>());
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(4));
        for (const auto &record : records)
            QCOMPARE(record.type, QStringLiteral("Cairn.Error.occurred"));

        QCOMPARE(param(records[0], "Cairn.Error.id"), QStringLiteral("only-id"));
        QCOMPARE(param(records[0], "Cairn.Error.category"), QStringLiteral("<absent>"));
        QCOMPARE(param(records[0], "Cairn.Error.message"), QStringLiteral("<absent>"));

        QCOMPARE(param(records[1], "Cairn.Error.id"), QStringLiteral("export.write"));
        QCOMPARE(param(records[1], "Cairn.Error.category"), QStringLiteral("thrown-exception"));
        QCOMPARE(param(records[1], "Cairn.Error.message"), QStringLiteral("disk full"));
        QCOMPARE(records[1].floatValue, std::optional<double>(2.0));

        QCOMPARE(param(records[2], "Cairn.Error.category"), QStringLiteral("user-input"));
        QCOMPARE(param(records[2], "Cairn.Error.message"), QStringLiteral("Could not export"));

        QCOMPARE(param(records[3], "Cairn.Error.category"), QStringLiteral("app-state"));
        QCOMPARE(param(records[3], "Cairn.Error.message"), QStringLiteral("<absent>"));
    }

    void durationIsRoundedDownToMilliseconds()
    {
        Clock::setFixed(kStart);
        beginDurationSignal(QStringLiteral("import"),
            { { QStringLiteral("source"), QStringLiteral("start") },
                { QStringLiteral("kept"), QStringLiteral("yes") } });
        DurationSignalTracker::shared().waitForIdle();
        Clock::advance(2503);
        stopDurationSignal(QStringLiteral("import"), { { QStringLiteral("source"), QStringLiteral("stop") } },
            7.0, QStringLiteral("someone"));
        stopDurationSignal(QStringLiteral("import"));
        stopDurationSignal(QStringLiteral("never-started"));
        DurationSignalTracker::shared().waitForIdle();
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(1));
        QCOMPARE(records[0].type, QStringLiteral("import"));
        QCOMPARE(param(records[0], "Cairn.Signal.durationInSeconds"), QStringLiteral("2.503"));
        QCOMPARE(param(records[0], "source"), QStringLiteral("stop"));
        QCOMPARE(param(records[0], "kept"), QStringLiteral("yes"));
        QCOMPARE(records[0].floatValue, std::optional<double>(7.0));
        QCOMPARE(records[0].clientUser, sha256Hex(QStringLiteral("someone")));

        QCOMPARE(DurationSignalTracker::durationText(2500), QStringLiteral("2.5"));
        QCOMPARE(DurationSignalTracker::durationText(15000), QStringLiteral("15.0"));
        QCOMPARE(DurationSignalTracker::durationText(1), QStringLiteral("0.001"));
        QCOMPARE(DurationSignalTracker::durationText(4100), QStringLiteral("4.1"));
    }

    void discardedDurationSendsNothing()
    {
        Clock::setFixed(kStart);
        beginDurationSignal(QStringLiteral("edit"));
        discardDurationSignal(QStringLiteral("edit"));
        stopDurationSignal(QStringLiteral("edit"));
        DurationSignalTracker::shared().waitForIdle();
        QVERIFY(settledRecords().empty());
    }

    void inactiveTimeExcludedUnlessIncluded()
    {
        Clock::setFixed(kStart);
        DurationSignalTracker tracker;
        tracker.startTracking(QStringLiteral("excluded"), {}, false);
        tracker.startTracking(QStringLiteral("included"), {}, true);
        Clock::advance(2000);
        tracker.applicationActiveChanged(false);
        Clock::advance(4000);
        // A second inactive state (hidden after inactive) must not restart the inactive time.
        tracker.applicationActiveChanged(false);
        Clock::advance(6000);
        tracker.applicationActiveChanged(true);
        Clock::advance(3000);
        tracker.stopTracking(QStringLiteral("excluded"), {}, std::nullopt, std::nullopt);
        tracker.stopTracking(QStringLiteral("included"), {}, std::nullopt, std::nullopt);
        tracker.waitForIdle();
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(2));
        QCOMPARE(param(records[0], "Cairn.Signal.durationInSeconds"), QStringLiteral("5.0"));
        QCOMPARE(param(records[1], "Cairn.Signal.durationInSeconds"), QStringLiteral("15.0"));
    }

    void durationBegunWhileInactiveCountsFromItsStart()
    {
        Clock::setFixed(kStart);
        DurationSignalTracker tracker;
        tracker.applicationActiveChanged(false);
        Clock::advance(10000);
        tracker.startTracking(QStringLiteral("late"), {}, false);
        Clock::advance(5000);
        tracker.applicationActiveChanged(true);
        Clock::advance(2000);
        tracker.stopTracking(QStringLiteral("late"), {}, std::nullopt, std::nullopt);
        tracker.waitForIdle();
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(1));
        QCOMPARE(param(records[0], "Cairn.Signal.durationInSeconds"), QStringLiteral("2.0"));
    }

    // The shared tracker listens to the application itself. The offscreen platform never
    // leaves the active state, so the test announces the changes the way the platform would.
    void sharedTrackerFollowsApplicationState()
    {
        Clock::setFixed(kStart);
        auto *app = qGuiApp;
        beginDurationSignal(QStringLiteral("focused"));
        Clock::advance(1000);
        emit app->applicationStateChanged(Qt::ApplicationInactive);
        Clock::advance(4000);
        emit app->applicationStateChanged(Qt::ApplicationHidden);
        Clock::advance(6000);
        emit app->applicationStateChanged(Qt::ApplicationActive);
        Clock::advance(2000);
        stopDurationSignal(QStringLiteral("focused"));
        DurationSignalTracker::shared().waitForIdle();
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(1));
        QCOMPARE(param(records[0], "Cairn.Signal.durationInSeconds"), QStringLiteral("3.0"));
    }

    void navigationRemembersTheLastDestination()
    {
        NavigationStatus::shared().setPreviousNavigationPath(std::nullopt);
        QWindow library;
        QWindow settings;
        trackNavigation(&library, QStringLiteral("library"));
        trackNavigation(&settings, QStringLiteral("settings"));
        library.show();
        settings.show();
        navigationPathChanged(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("user-1"));
        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(3));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Navigation.pathChanged"));
        QCOMPARE(param(records[0], "Cairn.Navigation.identifier"), QStringLiteral(" -> library"));
        QCOMPARE(param(records[0], "Cairn.Navigation.sourcePath"), QString());
        QCOMPARE(param(records[0], "Cairn.Navigation.destinationPath"), QStringLiteral("library"));
        QCOMPARE(param(records[0], "Cairn.Navigation.schemaVersion"), QStringLiteral("1"));
        QCOMPARE(param(records[1], "Cairn.Navigation.identifier"), QStringLiteral("library -> settings"));
        QCOMPARE(param(records[1], "Cairn.Navigation.sourcePath"), QStringLiteral("library"));
        QCOMPARE(param(records[2], "Cairn.Navigation.identifier"), QStringLiteral("a -> b"));
        QCOMPARE(records[2].clientUser, sha256Hex(QStringLiteral("user-1")));
        QCOMPARE(
            NavigationStatus::shared().previousNavigationPath(), std::optional<QString>(QStringLiteral("b")));
    }

    void purchaseValueInUSDollars()
    {
        QCOMPARE(currencyRateCount(), 161);
        QCOMPARE(currencyRatePerUSD(QStringLiteral("AED")), std::optional<double>(3.6725));
        QCOMPARE(currencyRatePerUSD(QStringLiteral("ZWL")).has_value(), true);
        QCOMPARE(currencyRatePerUSD(QStringLiteral("SAR")), std::optional<double>(3.75));
        QCOMPARE(currencyRatePerUSD(QStringLiteral("eur")), std::optional<double>());

        purchaseCompleted(
            euroPurchase(), { { QStringLiteral("Cairn.Purchase.productID"), QStringLiteral("mine") } });
        StoreTransaction unknown = euroPurchase();
        unknown.currencyCode = QStringLiteral("XYZ");
        purchaseCompleted(unknown);
        StoreTransaction dollars = euroPurchase();
        dollars.currencyCode = QStringLiteral("USD");
        dollars.subscriptionGroupID = QStringLiteral("pro");
        purchaseCompleted(dollars);
        // Older receipts: only the store's raw record knows price, currency and storefront.
        StoreTransaction raw = euroPurchase();
        raw.price.reset();
        raw.currencyCode.reset();
        raw.storefrontCountryCode.reset();
        raw.rawRecord = QJsonObject { { QStringLiteral("price"), 19980 },
            { QStringLiteral("currency"), QStringLiteral("GBP") },
            { QStringLiteral("storefront"), QStringLiteral("GBR") } };
        purchaseCompleted(raw);
        StoreTransaction noCurrency = euroPurchase();
        noCurrency.currencyCode.reset();
        purchaseCompleted(noCurrency);

        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(5));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Purchase.completed"));
        QVERIFY(records[0].floatValue);
        QVERIFY(qAbs(*records[0].floatValue - 10.4794) < 0.001);
        QCOMPARE(param(records[0], "Cairn.Purchase.type"), QStringLiteral("one-time-purchase"));
        QCOMPARE(param(records[0], "Cairn.Purchase.countryCode"), QStringLiteral("DEU"));
        QCOMPARE(param(records[0], "Cairn.Purchase.currencyCode"), QStringLiteral("EUR"));
        QCOMPARE(param(records[0], "Cairn.Purchase.productID"), QStringLiteral("mine"));
        QCOMPARE(records[1].floatValue, std::optional<double>(0.0));
        QCOMPARE(records[2].floatValue, std::optional<double>(9.99));
        QCOMPARE(param(records[2], "Cairn.Purchase.type"), QStringLiteral("subscription"));
        QVERIFY(qAbs(*records[3].floatValue - 19.98 / 0.7948) < 1e-9);
        QCOMPARE(param(records[3], "Cairn.Purchase.currencyCode"), QStringLiteral("GBP"));
        QCOMPARE(param(records[3], "Cairn.Purchase.countryCode"), QStringLiteral("GBR"));
        QCOMPARE(records[4].floatValue, std::optional<double>(0.0));
        QCOMPARE(param(records[4], "Cairn.Purchase.currencyCode"), QStringLiteral("<absent>"));
    }

    void trialConvertsOnce()
    {
        Clock::setFixed(kStart);
        auto &tracker = TrialConversionTracker::shared();
        const StoreTransaction trial = trialStart(5001);
        QVERIFY(startsFreeTrial(trial));
        purchaseCompleted(trial, {}, QStringLiteral("buyer"));
        tracker.waitForIdle();
        QCOMPARE(StoredTrial::load(clientDefaults().get()),
            std::optional<StoredTrial>(StoredTrial { trial.productID, 5001 }));
        QVERIFY(tracker.isWatchingUpdates());

        // Another subscription, a still-free period and an unverified renewal change nothing.
        StoreTransaction other = renewalOf(trial, 4.99);
        other.originalID = 9999;
        storeTransactionUpdated(other);
        StoreTransaction stillFree = trial;
        stillFree.id = 5002;
        storeTransactionUpdated(stillFree);
        storeTransactionUpdated(renewalOf(trial, 4.99), false);
        // The paid renewal converts; a second one does not.
        storeTransactionUpdated(renewalOf(trial, 4.99));
        storeTransactionUpdated(renewalOf(trial, 4.99));
        tracker.waitForIdle();

        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(2));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Purchase.freeTrialStarted"));
        QVERIFY(!records[0].floatValue);
        QCOMPARE(records[0].clientUser, sha256Hex(QStringLiteral("buyer")));
        QCOMPARE(param(records[0], "Cairn.Purchase.type"), QStringLiteral("subscription"));
        QCOMPARE(records[1].type, QStringLiteral("Cairn.Purchase.convertedFromTrial"));
        QCOMPARE(records[1].floatValue, std::optional<double>(4.99));
        QVERIFY(records[1].clientUser != sha256Hex(QStringLiteral("buyer")));
        QCOMPARE(StoredTrial::load(clientDefaults().get()), std::optional<StoredTrial>());
        QVERIFY(!tracker.isWatchingUpdates());
    }

    void cancelledTrialIsRemovedWithoutSignal_data()
    {
        QTest::addColumn<int>("ending");
        QTest::newRow("revoked") << 0;
        QTest::newRow("expired") << 1;
        QTest::newRow("upgraded") << 2;
    }

    void cancelledTrialIsRemovedWithoutSignal()
    {
        QFETCH(int, ending);
        Clock::setFixed(kStart);
        auto &tracker = TrialConversionTracker::shared();
        const StoreTransaction trial = trialStart(7000 + quint64(ending));
        purchaseCompleted(trial);
        tracker.waitForIdle();
        QVERIFY(StoredTrial::load(clientDefaults().get()));

        StoreTransaction end = trial;
        if (ending == 0)
            end.revocationDate = Clock::now();
        else if (ending == 1)
            end.expirationDate = Clock::now().addSecs(-1);
        else
            end.isUpgraded = true;
        storeTransactionUpdated(end);
        // Even a paid renewal afterwards is no conversion of that trial.
        storeTransactionUpdated(renewalOf(trial, 4.99));
        tracker.waitForIdle();

        const SignalBatch records = settledRecords();
        QCOMPARE(records.size(), size_t(1));
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Purchase.freeTrialStarted"));
        QCOMPARE(StoredTrial::load(clientDefaults().get()), std::optional<StoredTrial>());
        QVERIFY(!tracker.isWatchingUpdates());
    }

    void storedTrialKeepsLargeIdentifiersExactly()
    {
        const StoredTrial trial { QStringLiteral("p"), 18446744073709551557ull };
        QCOMPARE(StoredTrial::fromJson(trial.toJson()), std::optional<StoredTrial>(trial));
        QCOMPARE(StoredTrial::fromJson("{\"productID\":\"p\"}"), std::optional<StoredTrial>());
        QCOMPARE(StoredTrial::fromJson("not json"), std::optional<StoredTrial>());
    }
};

BRAMBLE_TEST_GUI_MAIN(TestCairnExtras)
#include "tst_cairn_extras.moc"
