// Facade rules, the signal record, its wire form and the default
// parameters, under a plain QCoreApplication (no screen, no palette).
#include "CairnTestSupport.h"
#include "support/TestEnvironment.h"

#include <Cairn/Clock.h>
#include <Cairn/DefaultSignalPayload.h>
#include <Cairn/Hashing.h>
#include <Cairn/SignalCache.h>
#include <Cairn/SignalPostBody.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTest>
#include <sys/utsname.h>
#include <thread>

using namespace Cairn;

namespace {
// The service address is never reached here: the timer waits an hour.
const QUrl kNowhere(QStringLiteral("http://127.0.0.1:9"));

QString unameMachine()
{
    struct utsname info
    {
    };
    uname(&info);
    return QString::fromUtf8(info.machine);
}

class ReplacingEnricher : public SignalEnricher
{
public:
    Parameters enrich(const QString &, const std::optional<QString> &, std::optional<double>) const override
    {
        return { { QStringLiteral("fromEnricher"), QStringLiteral("enricher") },
            { QStringLiteral("shared"), QStringLiteral("enricher") },
            { QStringLiteral("platform"), QStringLiteral("enricher-platform") } };
    }
};
} // namespace

class TestCairnRecord : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        Cairn::deinitialize();
        Clock::useSystem();
    }

    void sha256HexMatchesPlainDigest()
    {
        const QString text = QStringLiteral("user-ü-42");
        const QString plain = QString::fromLatin1(
            QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
        QCOMPARE(sha256Hex(text), plain);
        QCOMPARE(sha256Hex(text, QString()), plain);
        const QString salted = QString::fromLatin1(
            QCryptographicHash::hash((text + QStringLiteral("pepper")).toUtf8(), QCryptographicHash::Sha256)
                .toHex());
        QCOMPARE(sha256Hex(text, QStringLiteral("pepper")), salted);
        QCOMPARE(sha256Hex(QStringLiteral("abc")),
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QCOMPARE(sha256Hex(QString()).size(), 64);
    }

    void prefixingKeysKeepsCairnKeys()
    {
        const Parameters in { { QStringLiteral("count"), QStringLiteral("1") },
            { QStringLiteral("Cairn.Own.key"), QStringLiteral("2") },
            { QStringLiteral("cairn.lower"), QStringLiteral("3") } };
        QCOMPARE(prefixingKeys(in, std::nullopt), in);
        const Parameters out = prefixingKeys(in, QStringLiteral("app."));
        QCOMPARE(out.value(QStringLiteral("app.count")), QStringLiteral("1"));
        QCOMPARE(out.value(QStringLiteral("Cairn.Own.key")), QStringLiteral("2"));
        QCOMPARE(out.value(QStringLiteral("app.cairn.lower")), QStringLiteral("3"));
        QCOMPARE(out.size(), 3);
    }

    void wireJsonOfOneRecord()
    {
        Clock::setFixed(QDateTime(QDate(2025, 1, 31), QTime(13, 45, 10, 250), Qt::UTC));
        const QUuid session = QUuid::createUuid();
        const SignalPostBody record = SignalManager::buildRecord(QStringLiteral("link_added"),
            { { QStringLiteral("platform"), QStringLiteral("Linux") } }, {},
            { { QStringLiteral("groupCount"), QStringLiteral("3") } }, std::nullopt, std::nullopt,
            QStringLiteral("DEFAULT-USER"), QStringLiteral("APP"), QStringLiteral("salt"), session, false);
        const auto json = nlohmann::json::parse(encodeWireBatch({ record }).toStdString());
        QVERIFY(json.is_array());
        QCOMPARE(json.size(), size_t(1));
        const auto &object = json.at(0);
        QCOMPARE(QString::fromStdString(object.at("receivedAt")), QStringLiteral("2025-01-31T13:45:10+0000"));
        QCOMPARE(QString::fromStdString(object.at("appID")), QStringLiteral("APP"));
        QCOMPARE(QString::fromStdString(object.at("clientUser")),
            sha256Hex(QStringLiteral("DEFAULT-USER"), QStringLiteral("salt")));
        const QString sessionText = QString::fromStdString(object.at("sessionID"));
        QCOMPARE(sessionText, session.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(sessionText, sessionText.toUpper());
        QCOMPARE(sessionText.size(), 36);
        QCOMPARE(QString::fromStdString(object.at("type")), QStringLiteral("link_added"));
        QVERIFY(!object.contains("floatValue"));
        QCOMPARE(QString::fromStdString(object.at("isTestMode")), QStringLiteral("false"));
        QCOMPARE(QString::fromStdString(object.at("payload").at("groupCount")), QStringLiteral("3"));
        QCOMPARE(QString::fromStdString(object.at("payload").at("platform")), QStringLiteral("Linux"));
        // Key order as on the wire: receivedAt first, isTestMode last.
        std::vector<std::string> keys;
        const auto ordered = toWireJson(record);
        for (auto it = ordered.begin(); it != ordered.end(); ++it)
            keys.push_back(it.key());
        QCOMPARE(keys.front(), std::string("receivedAt"));
        QCOMPARE(keys.back(), std::string("isTestMode"));

        // A value and a custom user.
        const SignalPostBody valued
            = SignalManager::buildRecord(QStringLiteral("x"), {}, {}, {}, 2.5, QStringLiteral("custom"),
                QStringLiteral("DEFAULT-USER"), QStringLiteral("APP"), QString(), session, true);
        const auto valuedJson = toWireJson(valued);
        QCOMPARE(valuedJson.at("floatValue").get<double>(), 2.5);
        QCOMPARE(QString::fromStdString(valuedJson.at("clientUser")), sha256Hex(QStringLiteral("custom")));
        QCOMPARE(QString::fromStdString(valuedJson.at("isTestMode")), QStringLiteral("true"));
    }

    void wireDateIsGmt()
    {
        const QDateTime local(QDate(2025, 1, 31), QTime(15, 45, 10), Qt::OffsetFromUTC, 7200);
        QCOMPARE(wireDate(local), QStringLiteral("2025-01-31T13:45:10+0000"));
    }

    void payloadPrecedence()
    {
        const Parameters defaults { { QStringLiteral("platform"), QStringLiteral("Linux") },
            { QStringLiteral("shared"), QStringLiteral("default") },
            { QStringLiteral("onlyDefault"), QStringLiteral("d") } };
        const SignalPostBody record = SignalManager::buildRecord(QStringLiteral("x"), defaults,
            { std::make_shared<ReplacingEnricher>() },
            { { QStringLiteral("shared"), QStringLiteral("signal") } }, std::nullopt, std::nullopt,
            QStringLiteral("u"), QStringLiteral("a"), QString(), QUuid::createUuid(), false);
        QCOMPARE(record.payload.value(QStringLiteral("shared")), QStringLiteral("signal"));
        QCOMPARE(record.payload.value(QStringLiteral("fromEnricher")), QStringLiteral("enricher"));
        QCOMPARE(record.payload.value(QStringLiteral("platform")), QStringLiteral("enricher-platform"));
        QCOMPARE(record.payload.value(QStringLiteral("onlyDefault")), QStringLiteral("d"));
    }

    void cacheFileRoundTrip()
    {
        Clock::setFixed(QDateTime(QDate(2025, 1, 31), QTime(13, 45, 10, 123), Qt::UTC));
        SignalBatch records;
        for (int i = 0; i < 3; ++i)
            records.push_back(SignalManager::buildRecord(QStringLiteral("s%1").arg(i),
                { { QStringLiteral("k"), QStringLiteral("v") } }, {}, {},
                i == 1 ? std::optional<double>(1.25) : std::nullopt, std::nullopt, QStringLiteral("u"),
                QStringLiteral("a"), QString(), QUuid::createUuid(), false));
        const QByteArray bytes = encodeCacheFile(records);
        const auto json = nlohmann::json::parse(bytes.toStdString());
        // receivedAt is seconds since 2001-01-01 as a number.
        QVERIFY(json.at(0).at("receivedAt").is_number());
        QCOMPARE(json.at(0).at("receivedAt").get<double>(), 760023910.123);
        QVERIFY(!json.at(0).contains("floatValue"));
        const auto decoded = decodeCacheFile(bytes);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), records.size());
        for (size_t i = 0; i < records.size(); ++i)
            QVERIFY((*decoded)[i] == records[i]);
        QVERIFY(!decodeCacheFile("garbage \x01\x02"));
        QVERIFY(!decodeCacheFile(R"([{"appID":"x"}])"));
        QVERIFY(decodeCacheFile("[]").has_value());
    }

    void cacheKeepsOnlyTheNewestRecords()
    {
        const QString path = QDir::temp().filePath(
            QStringLiteral("cairn-cap-%1").arg(QUuid::createUuid().toString(QUuid::Id128)));
        const QDateTime start(QDate(2025, 1, 31), QTime(8, 0), Qt::UTC);
        const auto recordAt = [&](int second, const QString &type) {
            SignalPostBody record = SignalManager::buildRecord(type, {}, {}, {}, std::nullopt, std::nullopt,
                QStringLiteral("u"), QStringLiteral("a"), QString(), QUuid::createUuid(), false);
            record.receivedAt = start.addSecs(second);
            return record;
        };
        const size_t limit = SignalCache::maximumNumberOfCachedSignals;
        {
            SignalCache cache(std::nullopt, path);
            // A batch of the five oldest records is out when the cache fills up behind it.
            for (int i = 0; i < 5; ++i)
                cache.push(recordAt(i, QStringLiteral("old%1").arg(i)));
            SignalBatch out;
            const quint64 id = cache.checkOut(&out);
            QCOMPARE(out.size(), size_t(5));
            for (size_t i = 0; i < limit; ++i)
                cache.push(recordAt(int(100 + i), QStringLiteral("r%1").arg(i)));
            QCOMPARE(size_t(cache.count()), limit);
            // The batch fails and goes back behind the newer records: the oldest go, by time.
            QVERIFY(cache.putBack(id));
            QCOMPARE(size_t(cache.count()), limit);
            const SignalBatch kept = cache.snapshot();
            QCOMPARE(kept.front().type, QStringLiteral("r0"));
            QCOMPARE(kept.back().type, QStringLiteral("r%1").arg(limit - 1));
            for (const auto &record : kept)
                QVERIFY2(!record.type.startsWith(QLatin1String("old")), qPrintable(record.type));
            // One more, put back at the end but older than all: it is the one dropped.
            cache.push(recordAt(50, QStringLiteral("late but old")));
            QCOMPARE(cache.snapshot().back().type, QStringLiteral("r%1").arg(limit - 1));
        }

        // A file with more than the cap, out of order, is trimmed to the newest at load.
        SignalBatch many;
        for (size_t i = 0; i < limit + 300; ++i)
            many.push_back(recordAt(int((i * 7919) % (limit + 300)), QStringLiteral("f%1").arg(i)));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(encodeCacheFile(many));
        }
        LogCollector log;
        SignalCache loaded(log.handler(), path);
        loaded.load();
        QCOMPARE(size_t(loaded.count()), limit);
        QCOMPARE(log.count(QStringLiteral("INFO: Signal cache full; dropped the 300 oldest records")), 1);
        const QDateTime cutoff = start.addSecs(300);
        for (const auto &record : loaded.snapshot())
            QVERIFY(record.receivedAt >= cutoff);
        QFile::remove(path);
    }

    void cacheCodecHandlesAnyText()
    {
        const QString awkward
            = QStringLiteral("quote \" back \\ slash / nl \n tab \t ctl \x01 正在获取信息... 🚨 end");
        SignalPostBody record
            = SignalManager::buildRecord(awkward, { { awkward, awkward }, { QString(), QString() } }, {}, {},
                -0.125, std::nullopt, QStringLiteral("u"), awkward, QString(), QUuid::createUuid(), false);
        const QByteArray bytes = encodeCacheFile({ record, record });
        // What we write is JSON any parser reads...
        const auto json = nlohmann::json::parse(bytes.toStdString());
        QCOMPARE(QString::fromStdString(json.at(1).at("payload").at(awkward.toStdString())), awkward);
        QCOMPARE(json.at(0).at("floatValue").get<double>(), -0.125);
        // ...and reads back exactly.
        const auto decoded = decodeCacheFile(bytes);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), size_t(2));
        QVERIFY(decoded->at(1) == record);
        QCOMPARE(decoded->at(0).type, awkward);

        // A file another JSON writer made: indentation, \u escapes, null value, unknown keys.
        nlohmann::json other = nlohmann::json::array();
        other.push_back({ { "unknown", { { "nested", { 1, 2.5, true, nullptr, "x" } } } },
            { "receivedAt", 760023910.5 }, { "appID", "A" }, { "clientUser", "C" }, { "sessionID", "S" },
            { "type", "t" }, { "floatValue", nullptr },
            { "payload", { { "k", "v\u00e9" }, { "emoji", "🚨" } } }, { "isTestMode", "true" } });
        const auto fromOther = decodeCacheFile(QByteArray::fromStdString(other.dump(2, ' ', true)));
        QVERIFY(fromOther);
        QCOMPARE(fromOther->size(), size_t(1));
        QCOMPARE(fromOther->at(0).receivedAt, QDateTime(QDate(2025, 1, 31), QTime(13, 45, 10, 500), Qt::UTC));
        QVERIFY(!fromOther->at(0).floatValue);
        QCOMPARE(fromOther->at(0).payload.value(QStringLiteral("emoji")), QStringLiteral("🚨"));
        QCOMPARE(fromOther->at(0).payload.value(QStringLiteral("k")), QStringLiteral("v\u00e9"));
        QCOMPARE(fromOther->at(0).isTestMode, QStringLiteral("true"));

        // Broken files yield nothing.
        QVERIFY(!decodeCacheFile(bytes.left(bytes.size() - 1)));
        QVERIFY(!decodeCacheFile(bytes + "x"));
        QVERIFY(!decodeCacheFile(QByteArray()));
        QVERIFY(!decodeCacheFile(
            R"([{"receivedAt":1,"appID":"a","clientUser":"c","sessionID":"s","type":"t","isTestMode":"false"}])"));
        QVERIFY(!decodeCacheFile(
            R"([{"receivedAt":1,"appID":"a","clientUser":"c","sessionID":"s","type":"t","payload":{"k":1},"isTestMode":"false"}])"));
        QVERIFY(decodeCacheFile(
            R"( [ { "receivedAt" : 1 , "appID":"a","clientUser":"c","sessionID":"s","type":"t","payload":{},"isTestMode":"false"} ] )"));
    }

    // A damaged file's dates far beyond any real moment overflowed the milliseconds, on reading
    // or when the record was written back; such a file is refused like any other damage.
    void cacheFileDatesOutOfRangeAreRefused()
    {
        const auto file = [](const char *seconds) {
            return QByteArray(R"([{"receivedAt":)") + seconds
                + R"(,"appID":"a","clientUser":"c","sessionID":"s","type":"t","payload":{},"isTestMode":"false"}])";
        };
        QVERIFY(!decodeCacheFile(file("9.2233720368547e15")));
        QVERIFY(!decodeCacheFile(file("-9.2233720368547e15")));
        QVERIFY(!decodeCacheFile(file("1e300")));
        for (const char *seconds : { "-1e13", "1e13", "0" }) {
            const auto records = decodeCacheFile(file(seconds));
            QVERIFY2(records, seconds);
            const auto again = decodeCacheFile(encodeCacheFile(*records));
            QVERIFY2(again && again->at(0).receivedAt == records->at(0).receivedAt, seconds);
        }
    }

    void timeZoneAndNumbers()
    {
        QCOMPARE(DefaultSignalPayload::timeZoneText(3600), QStringLiteral("UTC+1"));
        QCOMPARE(DefaultSignalPayload::timeZoneText(-5 * 3600), QStringLiteral("UTC-5"));
        QCOMPARE(DefaultSignalPayload::timeZoneText(5 * 3600 + 1800), QStringLiteral("UTC+5:30"));
        QCOMPARE(DefaultSignalPayload::timeZoneText(-(3 * 3600 + 1800)), QStringLiteral("UTC-3:30"));
        QCOMPARE(DefaultSignalPayload::timeZoneText(0), QStringLiteral("UTC+0"));
        QCOMPARE(DefaultSignalPayload::doubleText(1080), QStringLiteral("1080.0"));
        QCOMPARE(DefaultSignalPayload::doubleText(2), QStringLiteral("2.0"));
        QCOMPARE(DefaultSignalPayload::doubleText(1.25), QStringLiteral("1.25"));
        const auto version = DefaultSignalPayload::systemVersionFromKernel(QStringLiteral("6.1.0-18-amd64"));
        QCOMPARE(version.full, QStringLiteral("Linux 6.1.0"));
        QCOMPARE(version.major, QStringLiteral("Linux 6"));
        QCOMPARE(version.majorMinor, QStringLiteral("Linux 6.1"));
        QCOMPARE(DefaultSignalPayload::systemVersionFromKernel(QStringLiteral("5.15")).full,
            QStringLiteral("Linux 5.15.0"));
    }

    void defaultParametersWithoutScreen()
    {
        Clock::setFixed(QDateTime(QDate(2025, 2, 1), QTime(10, 0), Qt::LocalTime)); // a Saturday
        DefaultSignalPayload::Inputs inputs;
        inputs.appVersion = QStringLiteral("1.2.3");
        inputs.buildNumber = QStringLiteral("45");
        const Parameters p = DefaultSignalPayload::parameters(inputs);
        QCOMPARE(p.value(QStringLiteral("platform")), QStringLiteral("Linux"));
        QCOMPARE(p.value(QStringLiteral("operatingSystem")), QStringLiteral("Linux"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.platform")), QStringLiteral("Linux"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.operatingSystem")), QStringLiteral("Linux"));
        const auto version = DefaultSignalPayload::systemVersionFromKernel(QSysInfo::kernelVersion());
        QCOMPARE(p.value(QStringLiteral("systemVersion")), version.full);
        QVERIFY(p.value(QStringLiteral("systemVersion"))
                    .contains(QRegularExpression(QStringLiteral("^Linux \\d+\\.\\d+\\.\\d+$"))));
        QCOMPARE(p.value(QStringLiteral("majorSystemVersion")), version.major);
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.systemMajorMinorVersion")), version.majorMinor);
        QCOMPARE(p.value(QStringLiteral("architecture")), unameMachine());
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.architecture")), unameMachine());
        for (const char *key :
            { "isTestFlight", "isAppStore", "Cairn.RunContext.isTestFlight", "Cairn.RunContext.isAppStore",
                "isSimulator", "isDebug", "Cairn.Accessibility.isInvertColorsEnabled" })
            QCOMPARE(p.value(QString::fromLatin1(key)), QStringLiteral("false"));
        QFile dmi(QStringLiteral("/sys/devices/virtual/dmi/id/product_name"));
        const QString expectedModel = dmi.open(QIODevice::ReadOnly) && !dmi.readAll().trimmed().isEmpty()
            ? QString::fromUtf8((dmi.seek(0), dmi.readAll())).trimmed()
            : unameMachine();
        QCOMPARE(p.value(QStringLiteral("modelName")), expectedModel);
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenResolutionWidth")), QStringLiteral("N/A"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenResolutionHeight")), QStringLiteral("N/A"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenScaleFactor")), QStringLiteral("N/A"));
        QCOMPARE(p.value(QStringLiteral("Cairn.UserPreference.colorScheme")), QStringLiteral("Light"));
        QCOMPARE(
            p.value(QStringLiteral("Cairn.UserPreference.layoutDirection")), QStringLiteral("leftToRight"));
        QCOMPARE(p.value(QStringLiteral("appVersion")), QStringLiteral("1.2.3"));
        QCOMPARE(p.value(QStringLiteral("Cairn.AppInfo.versionAndBuildNumber")),
            QStringLiteral("1.2.3 (build 45)"));
        QCOMPARE(p.value(QStringLiteral("Cairn.SDK.nameAndVersion")), QStringLiteral("CppSDK 1.0.0"));
        QCOMPARE(p.value(QStringLiteral("telemetryClientVersion")), QStringLiteral("1.0.0"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.orientation")), QStringLiteral("Fixed"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.dayOfWeek")), QStringLiteral("6"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.isWeekend")), QStringLiteral("true"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.dayOfMonth")), QStringLiteral("1"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.dayOfYear")), QStringLiteral("32"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.monthOfYear")), QStringLiteral("2"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.quarterOfYear")), QStringLiteral("1"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Calendar.hourOfDay")), QStringLiteral("10"));
        QVERIFY(p.value(QStringLiteral("Cairn.Device.timeZone")).startsWith(QStringLiteral("UTC")));
        // Without session history.
        QCOMPARE(p.value(QStringLiteral("Cairn.Retention.averageSessionSeconds")), QStringLiteral("-1"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Retention.totalSessionsCount")), QStringLiteral("0"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Acquisition.firstSessionDate")), QStringLiteral("2025-02-01"));
        QVERIFY(!p.contains(QStringLiteral("Cairn.Retention.previousSessionSeconds")));
    }

    void signalsAreQueuedWithDefaults()
    {
        LogCollector log;
        auto config = testConfiguration(kNowhere, &log);
        config->setSalt(QStringLiteral("pepper"));
        config->setDefaultParameters([] {
            return Parameters { { QStringLiteral("fromDefaults"), QStringLiteral("d") },
                { QStringLiteral("shared"), QStringLiteral("default") } };
        });
        initializeSettled(config);
        Cairn::signal(QStringLiteral("link_added"),
            { { QStringLiteral("groupCount"), QStringLiteral("2") },
                { QStringLiteral("shared"), QStringLiteral("signal") } });
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        const SignalPostBody record = pendingRecords().front();
        QCOMPARE(record.type, QStringLiteral("link_added"));
        QCOMPARE(record.appID, config->telemetryAppID());
        QCOMPARE(record.clientUser, Cairn::hashedDefaultUserIdentifier());
        QCOMPARE(record.sessionID, config->sessionID().toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(record.payload.value(QStringLiteral("groupCount")), QStringLiteral("2"));
        QCOMPARE(record.payload.value(QStringLiteral("fromDefaults")), QStringLiteral("d"));
        QCOMPARE(record.payload.value(QStringLiteral("shared")), QStringLiteral("signal"));
        QCOMPARE(record.payload.value(QStringLiteral("platform")), QStringLiteral("Linux"));
        QCOMPARE(
            record.payload.value(QStringLiteral("Cairn.Device.screenScaleFactor")), QStringLiteral("N/A"));
        QVERIFY(log.countContaining(QStringLiteral("Process signal: ")) == 1);
        QCOMPARE(log.countContaining(QStringLiteral("reserved")), 0);

        // The default user identifier is generated once, upper-case, and kept in clientDefaults.
        const QString user = Cairn::installedManager()->defaultUserIdentifier();
        QCOMPARE(user, user.toUpper());
        QCOMPARE(user.size(), 36);
        QCOMPARE(Cairn::installedManager()->defaultUserIdentifier(), user);
        QCOMPARE(Cairn::hashedDefaultUserIdentifier(), sha256Hex(user, QStringLiteral("pepper")));
        Cairn::setDefaultUser(QStringLiteral("chosen"));
        QCOMPARE(Cairn::hashedDefaultUserIdentifier(),
            sha256Hex(QStringLiteral("chosen"), QStringLiteral("pepper")));
        Cairn::setDefaultUser(std::nullopt);
        QCOMPARE(Cairn::hashedDefaultUserIdentifier(), sha256Hex(user, QStringLiteral("pepper")));
    }

    void prefixesApply()
    {
        auto config = testConfiguration(kNowhere);
        config->setDefaultSignalPrefix(QStringLiteral("Bramble."));
        config->setDefaultParameterPrefix(QStringLiteral("app."));
        initializeSettled(config);
        Cairn::signal(QStringLiteral("opened"),
            { { QStringLiteral("count"), QStringLiteral("1") },
                { QStringLiteral("Cairn.Custom.kept"), QStringLiteral("2") } });
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        const SignalPostBody record = pendingRecords().front();
        QCOMPARE(record.type, QStringLiteral("Bramble.opened"));
        QCOMPARE(record.payload.value(QStringLiteral("app.count")), QStringLiteral("1"));
        QVERIFY(!record.payload.contains(QStringLiteral("count")));
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Custom.kept")), QStringLiteral("2"));
    }

    void reservedNameWarnings()
    {
        LogCollector log;
        auto config = testConfiguration(kNowhere, &log);
        initializeSettled(config);
        const QString prefixLine
            = QStringLiteral("ERROR: Sending signal with reserved prefix 'Cairn.' will cause unexpected "
                             "behavior. Please use another prefix instead.");
        Cairn::signal(QStringLiteral("Cairn.Mine.event"));
        QCOMPARE(log.count(prefixLine), 1);
        Cairn::signal(QStringLiteral("Platform"));
        QCOMPARE(log.count(QStringLiteral("ERROR: Sending signal with reserved name 'Platform' will cause "
                                          "unexpected behavior. Please use another name instead.")),
            1);
        Cairn::signal(QStringLiteral("fine"),
            { { QStringLiteral("platform"), QStringLiteral("mine") },
                { QStringLiteral("cairn.x"), QStringLiteral("1") } });
        QCOMPARE(log.count(QStringLiteral("ERROR: Sending parameter with reserved key 'platform' will cause "
                                          "unexpected behavior. Please use another key instead.")),
            1);
        QCOMPARE(log.count(QStringLiteral("ERROR: Sending parameter with reserved key prefix 'Cairn.' will "
                                          "cause unexpected behavior. Please use another prefix instead.")),
            1);
        // The warnings never stop a signal; a caller's "platform" replaces the default.
        QTRY_COMPARE(Cairn::pendingSignalCount(), 3);
        const SignalBatch records = pendingRecords();
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Mine.event"));
        QCOMPARE(records[1].type, QStringLiteral("Platform"));
        QCOMPARE(records[2].payload.value(QStringLiteral("platform")), QStringLiteral("mine"));

        // recordSignal checks no names; switched-off warnings check nothing in signal...
        log.clear();
        Cairn::recordSignal(
            QStringLiteral("Cairn.Own.signal"), { { QStringLiteral("locale"), QStringLiteral("x") } });
        config->setReservedParameterWarningsEnabled(false);
        Cairn::signal(QStringLiteral("type"), { { QStringLiteral("appID"), QStringLiteral("x") } });
        QCOMPARE(log.countContaining(QStringLiteral("reserved")), 0);
        // ...but the configured default parameters are always checked.
        config->setDefaultParameters([] {
            return Parameters { { QStringLiteral("region"), QStringLiteral("x") } };
        });
        Cairn::signal(QStringLiteral("fine"));
        QCOMPARE(log.count(QStringLiteral("ERROR: Sending parameter with reserved key 'region' will cause "
                                          "unexpected behavior. Please use another key instead.")),
            1);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 6);
    }

    void disabledRecordsAndLogsNothing()
    {
        LogCollector log;
        auto config = testConfiguration(kNowhere, &log);
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
        initializeSettled(config);
        Cairn::signal(
            QStringLiteral("Cairn.reserved"), { { QStringLiteral("platform"), QStringLiteral("x") } });
        Cairn::recordSignal(QStringLiteral("other"));
        Cairn::renewSession();
        QTest::qWait(200);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QCOMPARE(log.lines(), QStringList());
        QVERIFY(!QFile::exists(Cairn::installedManager()->clientDefaults()->filePath()));
    }

    void previewModeRecordsNothing()
    {
        qputenv("XCODE_RUNNING_FOR_PREVIEWS", "1");
        auto config = testConfiguration(kNowhere);
        QVERIFY(config->previewMode());
        initializeSettled(config);
        Cairn::signal(QStringLiteral("previewed"));
        Cairn::recordSignal(QStringLiteral("previewed"));
        QTest::qWait(100);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        qunsetenv("XCODE_RUNNING_FOR_PREVIEWS");
        QVERIFY(!config->previewMode());
        config->setPreviewMode(true);
        QVERIFY(config->previewMode());
        Cairn::signal(QStringLiteral("previewed"));
        QTest::qWait(100);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        config->setPreviewMode(false);
        Cairn::signal(QStringLiteral("now"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
    }

    void signalsFromOtherThreads()
    {
        auto config = testConfiguration(kNowhere);
        initializeSettled(config);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t, config] {
                for (int i = 0; i < 50; ++i) {
                    Cairn::signal(QStringLiteral("t%1_%2").arg(t).arg(i, 2, 10, QLatin1Char('0')));
                    if (i == 25)
                        config->setDefaultParameters([] {
                            return Parameters { { QStringLiteral("late"), QStringLiteral("1") } };
                        });
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        QTRY_COMPARE(Cairn::pendingSignalCount(), 200);
        // Every thread's records arrive, each once. (Their order in the cache is not checked: the
        // sender's first round may fail against the closed port and put a batch back behind
        // newer records.)
        QMap<QString, QSet<QString>> byThread;
        int records = 0;
        for (const auto &record : pendingRecords()) {
            byThread[record.type.section(QLatin1Char('_'), 0, 0)].insert(record.type);
            ++records;
        }
        QCOMPARE(records, 200);
        QCOMPARE(byThread.size(), 4);
        for (const QSet<QString> &types : std::as_const(byThread))
            QCOMPARE(types.size(), 50);
    }

    void signalBeforeInitializeReturns()
    {
        Cairn::deinitialize();
        QVERIFY(!Cairn::installedManager());
        Cairn::signal(QStringLiteral("early"), { { QStringLiteral("a"), QStringLiteral("b") } });
        Cairn::requestImmediateSync();
        Cairn::renewSession();
        QCOMPARE(Cairn::hashedDefaultUserIdentifier().size(), 64);
        QTest::qWait(50);
        QVERIFY(!Cairn::installedManager());
        QCOMPARE(Cairn::pendingSignalCount(), 0);
    }
};

BRAMBLE_TEST_CORE_MAIN(TestCairnRecord)
#include "tst_cairn_record.moc"
