#include "exchange/DataExchange.h"
#include "exchange/ExportData.h"
#include "exchange/JSONDocument.h"
#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>
#include <atomic>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unistd.h>

// Declared before any raw string literal: moc does not understand them.
class ExchangeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    std::unique_ptr<ModelContainer> openStore();
    QString freshPath(const QString &suffix);

    static std::optional<ExportData> decode(const QByteArray &json, QString *error = nullptr);

    // Fails the read and returns its message.
    static QString rejection(const QByteArray &json);

private Q_SLOTS:
    void roundTripKeepsEveryText();
    void writtenFileHasFixedMemberOrderAndNoNulls();
    void datesAreWrittenInWholeSecondsUtc();
    void everyCharacterSurvivesTheWriter();
    void emptyLibrary();
    void missingAndNullTexts();
    void datesAreReadStrictly_data();
    void datesAreReadStrictly();
    void fractionalSecondsAreNamedAsSuch();
    void extraMembersAndAnyOrderAreAccepted();
    void structuralViolationsNameTheirPlace_data();
    void structuralViolationsNameTheirPlace();
    void malformedJsonIsAnErrorNotACrash_data();
    void malformedJsonIsAnErrorNotACrash();
    void parseErrorsSayWhere();
    void documentReadsAndWritesFiles();
    void documentRefusesWhatIsNotARegularFile();
    void documentRefusesHugeAndInvalidFiles();
    void largeDocumentRoundTrips();

    void libraryRoundTripsThroughExportAndImport();
    void importAddsAndNeverMerges();
    void progressFollowsCreationOrder();
    void emptyLibraryImportsAsNothing();
    void unopenableFileIsPermissionDenied();
    void invalidFileCreatesNothing();
    void exportFailureIsReportedNotSignalled();
    void groupDeletedDuringImportLosesOnlyItsRemainingLinks();
    void largeImportGivesTheEventLoopTurns();
    void unfinishedImportIsHiddenThenRemoved();
    void secondImportWaitsForTheFirst();
    void refreshKeepsFileSummariesAndSkipsDeletedLinks();
};

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

QByteArray minimalFile(const QByteArray &linkJson)
{
    return R"({"groups":[{"name":"G","createdAt":"2025-03-01T09:30:00Z","bookmarks":[)" + linkJson
        + R"(]}],"exportedAt":"2025-03-02T10:00:00Z"})";
}

ExportData awkwardLibrary()
{
    ExportData data;
    data.exportedAt = utc(2025, 3, 2, 10, 0, 0);
    ExportGroup reading { QStringLiteral("阅读 📚 \"quoted\" back\\slash\nsecond line"),
        utc(2025, 3, 1, 9, 30, 0), {} };
    reading.bookmarks.append(
        { QStringLiteral("https://example.com/路径?q=\"x\"&y=\\"), QStringLiteral("标题 🎉 with \"quotes\""),
            QStringLiteral("摘要\nline two\t\\end"), utc(2025, 3, 1, 9, 31, 5) });
    reading.bookmarks.append(
        { QStringLiteral("example.org"), std::nullopt, std::nullopt, utc(1999, 12, 31, 23, 59, 59) });
    reading.bookmarks.append(
        { QStringLiteral(""), QStringLiteral(""), QStringLiteral(""), utc(2024, 2, 29, 0, 0, 0) });
    data.groups.append(reading);
    data.groups.append({ QStringLiteral(""), utc(2025, 1, 1, 0, 0, 0), {} });
    return data;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json &object)
{
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.push_back(it.key());
    return keys;
}

// Collects what the program writes on standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { finish(); }
    QString finish()
    {
        if (m_saved >= 0) {
            std::fflush(stdout);
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
            m_saved = -1;
            QFile read(m_file.fileName());
            read.open(QIODevice::ReadOnly);
            m_text = QString::fromUtf8(read.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

struct SentSignal
{
    QString name;
    QMap<QString, QString> parameters;
};

DataExchange::SignalHook recordSignals(QList<SentSignal> *sent)
{
    return [sent](const QString &name, const QMap<QString, QString> &parameters) {
        sent->append({ name, parameters });
    };
}

// For libraries whose addresses must not be fetched: remembers what would have been fetched.
DataExchange::FetchFunction recordFetches(QStringList *fetched)
{
    return [fetched](QString urlString) -> QCoro::Task<LinkMetadata> {
        if (fetched)
            fetched->append(urlString);
        co_return LinkMetadata {};
    };
}

void runEventLoopTurn()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

ExportData librarySnapshot(ModelContext *context)
{
    return DataExchange(context).exportDocument().data;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray twoGroupsOfThree()
{
    return R"({"groups":[
        {"name":"A","createdAt":"2020-01-01T00:00:00Z","bookmarks":[
            {"urlString":"https://a1.example","title":"A1","summary":"first","createdAt":"2020-01-01T00:00:00Z"},
            {"urlString":"https://a2.example","createdAt":"2020-01-01T00:00:00Z"},
            {"urlString":"https://a3.example","title":null,"summary":"","createdAt":"2020-01-01T00:00:00Z"}]},
        {"name":"B","createdAt":"2020-01-01T00:00:00Z","bookmarks":[
            {"urlString":"https://b1.example","createdAt":"2020-01-01T00:00:00Z"},
            {"urlString":"https://b2.example","createdAt":"2020-01-01T00:00:00Z"},
            {"urlString":"https://b1.example","createdAt":"2020-01-01T00:00:00Z"}]}],
        "exportedAt":"2020-01-02T00:00:00Z"})";
}

} // namespace

std::optional<ExportData> ExchangeTest::decode(const QByteArray &json, QString *error)
{
    QString ignored;
    return ExportData::fromJson(json, error ? error : &ignored);
}

QString ExchangeTest::rejection(const QByteArray &json)
{
    QString error;
    const auto data = ExportData::fromJson(json, &error);
    if (data)
        return QStringLiteral("<accepted>");
    return error;
}

void ExchangeTest::roundTripKeepsEveryText()
{
    const ExportData original = awkwardLibrary();
    const QByteArray json = original.toJson();
    QString error;
    const auto back = ExportData::fromJson(json, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->groups.size(), 2);
    QCOMPARE(*back, original);
    // Empty and absent texts stay apart.
    QVERIFY(!back->groups[0].bookmarks[1].title && !back->groups[0].bookmarks[1].summary);
    QVERIFY(back->groups[0].bookmarks[2].title && back->groups[0].bookmarks[2].title->isEmpty());
    QVERIFY(back->groups[0].bookmarks[2].summary && back->groups[0].bookmarks[2].summary->isEmpty());
    // Written as UTF-8 text, not escaped.
    QVERIFY(json.contains("阅读 📚"));
}

void ExchangeTest::writtenFileHasFixedMemberOrderAndNoNulls()
{
    const QByteArray json = awkwardLibrary().toJson();
    const auto root = nlohmann::ordered_json::parse(json.toStdString());
    QCOMPARE(keysOf(root), (std::vector<std::string> { "groups", "exportedAt" }));
    QCOMPARE(keysOf(root["groups"][0]), (std::vector<std::string> { "name", "createdAt", "bookmarks" }));
    QCOMPARE(keysOf(root["groups"][0]["bookmarks"][0]),
        (std::vector<std::string> { "urlString", "title", "summary", "createdAt" }));
    QCOMPARE(
        keysOf(root["groups"][0]["bookmarks"][1]), (std::vector<std::string> { "urlString", "createdAt" }));
    QVERIFY(!json.contains("null"));
    QCOMPARE(root["exportedAt"].get<std::string>(), std::string("2025-03-02T10:00:00Z"));
    QCOMPARE(root["groups"][0]["bookmarks"][1]["createdAt"].get<std::string>(),
        std::string("1999-12-31T23:59:59Z"));
    // Pretty-printed: one member per line.
    QVERIFY(json.count('\n') > 20);
    QVERIFY(json.contains("\n  \"groups\": ["));
}

void ExchangeTest::everyCharacterSurvivesTheWriter()
{
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls.append(QChar(c));
    const QStringList texts { controls, QStringLiteral("\"\\/\u007f</script>"),
        QStringLiteral("😀👩‍👩‍👧 混合 text"), QStringLiteral("trailing backslash \\") };
    ExportData data;
    data.exportedAt = utc(2025, 3, 2, 10, 0, 0);
    ExportGroup group { controls, utc(2025, 3, 1, 9, 30, 0), {} };
    for (const QString &text : texts)
        group.bookmarks.append({ text, text, text, utc(2025, 3, 1, 9, 30, 0) });
    data.groups.append(group);
    const QByteArray json = data.toJson();
    // Another parser agrees that it is valid JSON with these very texts.
    const auto root = nlohmann::ordered_json::parse(json.toStdString());
    QCOMPARE(QString::fromStdString(root["groups"][0]["name"].get<std::string>()), controls);
    QCOMPARE(QString::fromStdString(root["groups"][0]["bookmarks"][1]["title"].get<std::string>()), texts[1]);
    const auto back = decode(json);
    QVERIFY(back);
    QCOMPARE(*back, data);

    // A lone surrogate cannot be written as UTF-8; it must not make the file unreadable.
    data.groups[0].bookmarks[0].title
        = QStringLiteral("half ") + QChar(char16_t(0xD800)) + QStringLiteral(" pair");
    const auto lone = decode(data.toJson());
    QVERIFY(lone);
    QVERIFY(lone->groups[0].bookmarks[0].title->startsWith(QStringLiteral("half ")));
}

void ExchangeTest::datesAreWrittenInWholeSecondsUtc()
{
    ExportData data;
    const QDateTime berlin(QDate(2025, 6, 1), QTime(12, 0, 0, 750), QTimeZone("Europe/Berlin"));
    data.exportedAt = berlin;
    data.groups.append({ QStringLiteral("g"), berlin, {} });
    const QByteArray json = data.toJson();
    QVERIFY(json.contains("\"2025-06-01T10:00:00Z\""));
    QVERIFY(!json.contains(".750"));
    // A date that cannot be written still gives a file that reads back.
    data.groups[0].createdAt = QDateTime();
    QVERIFY(decode(data.toJson()));
    QVERIFY(ExportData::currentTime().time().msec() == 0);
}

void ExchangeTest::emptyLibrary()
{
    ExportData data;
    const QByteArray json = data.toJson();
    const auto root = nlohmann::ordered_json::parse(json.toStdString());
    QVERIFY(root["groups"].is_array() && root["groups"].empty());
    QVERIFY(ExportData::parseDate(QString::fromStdString(root["exportedAt"].get<std::string>())));
    const auto back = decode(json);
    QVERIFY(back && back->groups.isEmpty());
    QCOMPARE(back->exportedAt, data.exportedAt);
}

void ExchangeTest::missingAndNullTexts()
{
    const auto missing = decode(minimalFile(R"({"urlString":"u","createdAt":"2025-03-01T09:30:00Z"})"));
    QVERIFY(missing);
    QVERIFY(!missing->groups[0].bookmarks[0].title && !missing->groups[0].bookmarks[0].summary);

    const auto null = decode(
        minimalFile(R"({"urlString":"u","title":null,"summary":null,"createdAt":"2025-03-01T09:30:00Z"})"));
    QVERIFY(null);
    QVERIFY(!null->groups[0].bookmarks[0].title && !null->groups[0].bookmarks[0].summary);

    QVERIFY(rejection(minimalFile(R"({"urlString":"u","title":5,"createdAt":"2025-03-01T09:30:00Z"})"))
                .contains(QStringLiteral("\"title\" must be a string or null")));
}

void ExchangeTest::datesAreReadStrictly_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("expected"); // empty: rejected
    QTest::newRow("zulu") << "2025-03-01T09:30:00Z"
                          << "2025-03-01T09:30:00Z";
    QTest::newRow("offset") << "2025-03-01T17:30:00+08:00"
                            << "2025-03-01T09:30:00Z";
    QTest::newRow("negative offset") << "2025-03-01T04:30:00-05:00"
                                     << "2025-03-01T09:30:00Z";
    QTest::newRow("leap day") << "2024-02-29T00:00:00Z"
                              << "2024-02-29T00:00:00Z";
    QTest::newRow("fraction") << "2025-03-01T09:30:00.5Z"
                              << "";
    QTest::newRow("millis") << "2025-03-01T09:30:00.000Z"
                            << "";
    QTest::newRow("no zone") << "2025-03-01T09:30:00"
                             << "";
    QTest::newRow("date only") << "2025-03-01"
                               << "";
    QTest::newRow("space separator") << "2025-03-01 09:30:00Z"
                                     << "";
    QTest::newRow("month 13") << "2025-13-01T09:30:00Z"
                              << "";
    QTest::newRow("not a leap year") << "2025-02-29T09:30:00Z"
                                     << "";
    QTest::newRow("hour 24") << "2025-03-01T24:00:00Z"
                             << "";
    QTest::newRow("second 60") << "2025-03-01T09:30:60Z"
                               << "";
    QTest::newRow("trailing text") << "2025-03-01T09:30:00Zjunk"
                                   << "";
    QTest::newRow("short offset") << "2025-03-01T09:30:00+08"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("year zero") << "0000-01-01T00:00:00Z"
                               << "";
}

void ExchangeTest::datesAreReadStrictly()
{
    QFETCH(QString, date);
    QFETCH(QString, expected);
    const QByteArray json = minimalFile(R"({"urlString":"u","createdAt":")" + date.toUtf8() + R"("})");
    QString error;
    const auto data = ExportData::fromJson(json, &error);
    if (expected.isEmpty()) {
        QVERIFY(!data);
        QVERIFY2(error.contains(QStringLiteral("In link 1 of group 1"))
                && error.contains(QStringLiteral("createdAt")),
            qPrintable(error));
    } else {
        QVERIFY2(data, qPrintable(error));
        QCOMPARE(ExportData::formatDate(data->groups[0].bookmarks[0].createdAt), expected);
    }
}

void ExchangeTest::fractionalSecondsAreNamedAsSuch()
{
    const QString error = rejection(R"({"groups":[],"exportedAt":"2025-03-02T10:00:00.123Z"})");
    QVERIFY2(error.contains(QStringLiteral("At the top level"))
            && error.contains(QStringLiteral("exportedAt"))
            && error.contains(QStringLiteral("fractional seconds")),
        qPrintable(error));
}

void ExchangeTest::extraMembersAndAnyOrderAreAccepted()
{
    const QByteArray json = R"({
        "version": 2, "exportedAt": "2025-03-02T10:00:00Z", "app": {"name": "later"},
        "groups": [{
            "bookmarks": [{"createdAt": "2025-03-01T09:30:00Z", "iconData": "AAAA", "sortOrder": 4,
                           "summary": "s", "urlString": "u", "title": "t", "tags": ["x"]}],
            "color": "red", "createdAt": "2025-03-01T09:30:00Z", "name": "G", "sortOrder": null
        }]})";
    QString error;
    const auto data = ExportData::fromJson(json, &error);
    QVERIFY2(data, qPrintable(error));
    QCOMPARE(data->groups[0].name, QStringLiteral("G"));
    const ExportItem &item = data->groups[0].bookmarks[0];
    QCOMPARE(item.urlString, QStringLiteral("u"));
    QCOMPARE(item.title, std::optional<QString>(QStringLiteral("t")));
    QCOMPARE(item.summary, std::optional<QString>(QStringLiteral("s")));
}

void ExchangeTest::structuralViolationsNameTheirPlace_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("mentions");
    const QByteArray link = R"({"urlString":"u","createdAt":"2025-03-01T09:30:00Z"})";
    const auto file = [&](const QByteArray &secondLink) {
        return R"({"groups":[{"name":"A","createdAt":"2025-03-01T09:30:00Z","bookmarks":[]},)"
               R"({"name":"B","createdAt":"2025-03-01T09:30:00Z","bookmarks":[)"
            + link + "," + secondLink + R"(]}],"exportedAt":"2025-03-02T10:00:00Z"})";
    };
    QTest::newRow("no groups") << QByteArray(R"({"exportedAt":"2025-03-02T10:00:00Z"})")
                               << QStringList { "top level", "\"groups\"", "missing" };
    QTest::newRow("no exportedAt") << QByteArray(R"({"groups":[]})")
                                   << QStringList { "top level", "\"exportedAt\"", "missing" };
    QTest::newRow("groups not array") << QByteArray(R"({"groups":{},"exportedAt":"2025-03-02T10:00:00Z"})")
                                      << QStringList { "\"groups\"", "must be an array", "an object" };
    QTest::newRow("root array") << QByteArray("[]") << QStringList { "top level", "an array" };
    QTest::newRow("group not object") << QByteArray(R"({"groups":[7],"exportedAt":"2025-03-02T10:00:00Z"})")
                                      << QStringList { "group 1", "must be an object" };
    QTest::newRow("group without name") << QByteArray(
        R"({"groups":[{"createdAt":"2025-03-01T09:30:00Z","bookmarks":[]}],"exportedAt":"2025-03-02T10:00:00Z"})")
                                        << QStringList { "In group 1", "\"name\"", "missing" };
    QTest::newRow("group without createdAt")
        << QByteArray(R"({"groups":[{"name":"A","bookmarks":[]}],"exportedAt":"2025-03-02T10:00:00Z"})")
        << QStringList { "In group 1", "\"createdAt\"", "missing" };
    QTest::newRow("group without bookmarks") << QByteArray(
        R"({"groups":[{"name":"A","createdAt":"2025-03-01T09:30:00Z"}],"exportedAt":"2025-03-02T10:00:00Z"})")
                                             << QStringList { "In group 1", "\"bookmarks\"", "missing" };
    QTest::newRow("null name") << QByteArray(
        R"({"groups":[{"name":null,"createdAt":"2025-03-01T09:30:00Z","bookmarks":[]}],"exportedAt":"2025-03-02T10:00:00Z"})")
                               << QStringList { "In group 1", "\"name\"", "must be a string", "null" };
    QTest::newRow("link without urlString")
        << file(R"({"createdAt":"2025-03-01T09:30:00Z"})")
        << QStringList { "In link 2 of group 2", "\"urlString\"", "missing" };
    QTest::newRow("link without createdAt")
        << file(R"({"urlString":"u"})") << QStringList { "In link 2 of group 2", "\"createdAt\"", "missing" };
    QTest::newRow("numeric urlString") << file(R"({"urlString":1,"createdAt":"2025-03-01T09:30:00Z"})")
                                       << QStringList { "In link 2 of group 2", "\"urlString\"", "a number" };
    QTest::newRow("link not object") << file(R"("https://example.com")")
                                     << QStringList { "In group 2", "link 2 must be an object", "a string" };
    QTest::newRow("numeric date") << file(R"({"urlString":"u","createdAt":1700000000})")
                                  << QStringList { "In link 2 of group 2", "\"createdAt\"", "a number" };
}

void ExchangeTest::structuralViolationsNameTheirPlace()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, mentions);
    const QString error = rejection(json);
    for (const QString &mention : mentions)
        QVERIFY2(error.contains(mention), qPrintable(error + QStringLiteral(" lacks ") + mention));
}

void ExchangeTest::malformedJsonIsAnErrorNotACrash_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << QByteArray(R"({"groups":[{"name":"A")");
    QTest::newRow("trailing comma") << QByteArray(R"({"groups":[],"exportedAt":"2025-03-02T10:00:00Z",})");
    QTest::newRow("garbage after") << QByteArray(R"({"groups":[],"exportedAt":"2025-03-02T10:00:00Z"} x)");
    QTest::newRow("invalid utf8") << QByteArray("{\"groups\":[],\"exportedAt\":\"\xff\xfe\"}");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02PK\x03\x04", 8);
    QTest::newRow("deep nesting") << QByteArray(200000, '[');
    QTest::newRow("deep objects") << QByteArray(R"({"groups":[],"exportedAt":"2025-03-02T10:00:00Z","x":)")
            + QByteArray(100000, '[') + QByteArray(100000, ']') + "}";
}

void ExchangeTest::malformedJsonIsAnErrorNotACrash()
{
    QFETCH(QByteArray, json);
    const QString error = rejection(json);
    if (QByteArray(QTest::currentDataTag()) == "deep objects") {
        // Valid JSON with a harmless extra member, however deep.
        QCOMPARE(error, QStringLiteral("<accepted>"));
        return;
    }
    QVERIFY2(error.startsWith(QStringLiteral("The file is not valid JSON: ")), qPrintable(error));
    QVERIFY(!error.contains(QStringLiteral("json.exception")));
}

void ExchangeTest::parseErrorsSayWhere()
{
    const QString error = rejection("{\n  \"groups\": [\n    }\n");
    QVERIFY2(error.contains(QStringLiteral("line 3")), qPrintable(error));
}

void ExchangeTest::documentReadsAndWritesFiles()
{
    const QString path = m_dir.filePath(QStringLiteral("doc.json"));
    JSONDocument document(awkwardLibrary());
    QString error;
    QVERIFY2(document.writeFile(path, &error), qPrintable(error));
    const auto read = JSONDocument::readFile(path);
    QCOMPARE(read.failure, JSONReadFailure::None);
    QVERIFY(read.document);
    QCOMPARE(read.document->data, document.data);
    QCOMPARE(JSONDocument::readableContentTypes(), QStringList { QStringLiteral("application/json") });
    QCOMPARE(JSONDocument::writableContentTypes(), JSONDocument::readableContentTypes());
    QCOMPARE(QString::fromLatin1(JSONDocument::defaultFileName), QStringLiteral("Bramble_Backup"));
}

void ExchangeTest::documentRefusesWhatIsNotARegularFile()
{
    // A folder where the file should be: refused even for root.
    const QString folder = m_dir.filePath(QStringLiteral("folder.json"));
    QVERIFY(QDir().mkpath(folder));
    auto read = JSONDocument::readFile(folder);
    QCOMPARE(read.failure, JSONReadFailure::CannotOpen);
    QVERIFY(!read.document);

    read = JSONDocument::readFile(m_dir.filePath(QStringLiteral("missing.json")));
    QCOMPARE(read.failure, JSONReadFailure::CannotOpen);

    // Writing where a folder stands fails and says so.
    QString error;
    QVERIFY(!JSONDocument().writeFile(folder, &error));
    QVERIFY2(error.contains(QStringLiteral("folder.json")), qPrintable(error));
}

void ExchangeTest::documentRefusesHugeAndInvalidFiles()
{
    // Sparse, so the test costs no disk space.
    const QString huge = m_dir.filePath(QStringLiteral("huge.json"));
    QFile file(huge);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(JSONDocument::maxFileBytes + 1));
    file.close();
    auto read = JSONDocument::readFile(huge);
    QCOMPARE(read.failure, JSONReadFailure::TooLarge);
    QVERIFY2(read.error.contains(QStringLiteral("too large")), qPrintable(read.error));

    const QString invalid = m_dir.filePath(QStringLiteral("invalid.json"));
    QFile bad(invalid);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"groups":[],"exportedAt":"2025-03-02T10:00:00.5Z"})");
    bad.close();
    read = JSONDocument::readFile(invalid);
    QCOMPARE(read.failure, JSONReadFailure::Invalid);
    QVERIFY(read.error.contains(QStringLiteral("fractional seconds")));
}

void ExchangeTest::largeDocumentRoundTrips()
{
    ExportData data;
    for (int g = 0; g < 100; ++g) {
        ExportGroup group { QStringLiteral("Group %1").arg(g), utc(2025, 1, 1, 0, 0, 0), {} };
        for (int i = 0; i < 1000; ++i)
            group.bookmarks.append({ QStringLiteral("https://site%1.example/%2").arg(g).arg(i),
                QStringLiteral("Title %1").arg(i), std::nullopt, utc(2025, 1, 2, 3, 4, 5) });
        data.groups.append(group);
    }
    const auto back = decode(data.toJson());
    QVERIFY(back);
    QCOMPARE(back->linkCount(), 100000);
    QCOMPARE(*back, data);
}

std::unique_ptr<ModelContainer> ExchangeTest::openStore()
{
    QString error;
    auto container = ModelContainer::open(freshPath(QStringLiteral(".sqlite")), &error);
    if (!container)
        qWarning() << "open failed:" << error;
    return container;
}

QString ExchangeTest::freshPath(const QString &suffix)
{
    return m_dir.filePath(QStringLiteral("file-%1%2").arg(++m_counter).arg(suffix));
}

void ExchangeTest::libraryRoundTripsThroughExportAndImport()
{
    auto source = openStore();
    QVERIFY(source);
    ModelContext *context = source->mainContext();
    const ExportData awkward = awkwardLibrary();
    for (const ExportGroup &fileGroup : awkward.groups) {
        auto *group = new BookmarkGroup(fileGroup.name);
        context->insert(group);
        for (const ExportItem &link : fileGroup.bookmarks) {
            auto *item = new BookmarkItem(link.urlString, group);
            item->setTitle(link.title);
            item->setSummary(link.summary);
            item->setIconData(QByteArray("icon bytes stay home"));
        }
    }

    QList<SentSignal> sent;
    DataExchange exporter(context);
    exporter.setSignalHook(recordSignals(&sent));
    const QString path = freshPath(QStringLiteral(".json"));
    StdoutCapture capture;
    const ExportResult exported = QCoro::waitFor(exporter.exportData(path));
    const QString console = capture.finish();
    QVERIFY2(exported.ok, qPrintable(exported.error));
    QCOMPARE(exported.groupCount, 2);
    QCOMPARE(exported.linkCount, 3);
    QCOMPARE(exported.fileBytes, QFileInfo(path).size());
    QCOMPARE(console,
        QStringLiteral("Saved to ") + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)
            + QLatin1Char('\n'));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].name, QStringLiteral("data_exported"));
    QVERIFY(sent[0].parameters.isEmpty());

    // The file holds exactly what the store held, absent and empty texts apart, and no icons.
    const auto file = JSONDocument::readFile(path);
    QVERIFY2(file.document, qPrintable(file.error));
    QCOMPARE(file.document->data.groups.size(), 2);
    for (int g = 0; g < 2; ++g) {
        QCOMPARE(file.document->data.groups[g].name, awkward.groups[g].name);
        QCOMPARE(file.document->data.groups[g].bookmarks.size(), awkward.groups[g].bookmarks.size());
        for (int i = 0; i < awkward.groups[g].bookmarks.size(); ++i) {
            const ExportItem &written = file.document->data.groups[g].bookmarks[i];
            const ExportItem &expected = awkward.groups[g].bookmarks[i];
            QCOMPARE(written.urlString, expected.urlString);
            QCOMPARE(written.title, expected.title);
            QCOMPARE(written.summary, expected.summary);
        }
    }
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(!written.readAll().contains("icon"));

    // Into an empty library.
    auto target = openStore();
    QVERIFY(target);
    QStringList fetched;
    DataExchange importer(target->mainContext());
    importer.setSignalHook(recordSignals(&sent));
    importer.setFetchFunction(recordFetches(&fetched));
    QSignalSpy refreshed(&importer, &DataExchange::metadataRefreshFinished);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const ImportResult imported = QCoro::waitFor(importer.importData(path));
    QVERIFY2(imported.ok, qPrintable(imported.error));
    QCOMPARE(imported.groupCount, 2);
    QCOMPARE(imported.linkCount, 3);

    const ExportData back = librarySnapshot(target->mainContext());
    QCOMPARE(back.groups.size(), 2);
    const QList<ExportItem> &links = back.groups[0].bookmarks;
    QCOMPARE(back.groups[0].name, awkward.groups[0].name);
    QVERIFY(!back.groups[1].name.isNull() && back.groups[1].name.isEmpty());
    QCOMPARE(links.size(), 3);
    QCOMPARE(links[0].title, awkward.groups[0].bookmarks[0].title);
    QCOMPARE(links[0].summary, awkward.groups[0].bookmarks[0].summary);
    // Absent title: the address; absent summary: the placeholder. Empty texts stay empty.
    QCOMPARE(links[1].title, std::optional<QString>(QStringLiteral("example.org")));
    QCOMPARE(links[1].summary, std::optional<QString>(QString::fromUtf8(DataExchange::placeholderSummary)));
    QCOMPARE(links[2].title, std::optional<QString>(QString()));
    QCOMPARE(links[2].summary, std::optional<QString>(QString()));
    // Creation times are the import's, not the file's.
    QVERIFY(back.groups[0].createdAt.toSecsSinceEpoch() >= before);
    QVERIFY(links[1].createdAt.toSecsSinceEpoch() >= before);
    for (BookmarkItem *item : target->mainContext()->items())
        QVERIFY(!item->iconData());

    QVERIFY(refreshed.count() == 1 || refreshed.wait(5000));
    QCOMPARE(fetched.size(), 3);
    QCOMPARE(fetched[0], awkward.groups[0].bookmarks[0].urlString);
    QCOMPARE(sent.last().name, QStringLiteral("data_imported"));
    QCOMPARE(sent.last().parameters,
        (QMap<QString, QString> { { QStringLiteral("groupCount"), QStringLiteral("2") },
            { QStringLiteral("linkCount"), QStringLiteral("3") },
            { QStringLiteral("source"), QStringLiteral("bramble") } }));
    // Records reach the file, the group with the empty name included (the queue's last change
    // with the next automatic save).
    QTRY_VERIFY(!target->mainContext()->hasChanges());
    const QString targetPath = target->path();
    target.reset();
    QString error;
    auto reopened = ModelContainer::open(targetPath, &error);
    QVERIFY2(reopened, qPrintable(error));
    QCOMPARE(reopened->mainContext()->groupCount(), 2);
    QCOMPARE(reopened->mainContext()->itemCount(), 3);
}

void ExchangeTest::importAddsAndNeverMerges()
{
    const QString path = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(path, twoGroupsOfThree()));
    auto store = openStore();
    QVERIFY(store);
    ModelContext *context = store->mainContext();
    auto *existing = new BookmarkGroup(QStringLiteral("A"));
    context->insert(existing);
    new BookmarkItem(QStringLiteral("https://a1.example"), existing);

    QStringList fetched;
    QList<SentSignal> sent;
    DataExchange exchange(context);
    exchange.setFetchFunction(recordFetches(&fetched));
    exchange.setSignalHook(recordSignals(&sent));
    for (int round = 0; round < 2; ++round) {
        const ImportResult result = QCoro::waitFor(exchange.importData(path));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.linkCount, 6);
    }
    QCOMPARE(context->groupCount(), 5);
    QCOMPARE(context->itemCount(), 13);
    int named = 0;
    for (BookmarkGroup *group : context->groups())
        named += group->name() == QStringLiteral("A");
    QCOMPARE(named, 3);
    int copies = 0;
    for (BookmarkItem *item : context->items())
        copies += item->urlString() == QStringLiteral("https://b1.example");
    QCOMPARE(copies, 4);
    QCOMPARE(existing->bookmarks().size(), 1);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[1].parameters.value(QStringLiteral("groupCount")), QStringLiteral("2"));
    QCOMPARE(sent[1].parameters.value(QStringLiteral("linkCount")), QStringLiteral("6"));
}

void ExchangeTest::progressFollowsCreationOrder()
{
    const QString path = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(path, twoGroupsOfThree()));
    auto store = openStore();
    QVERIFY(store);
    ModelContext *context = store->mainContext();
    QStringList fetched;
    DataExchange exchange(context);
    exchange.setFetchFunction(recordFetches(&fetched));
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    QList<double> progress;
    QList<QPair<int, int>> counts;
    connect(&exchange, &DataExchange::importProgressChanged, this, [&](double value) {
        progress.append(value);
        counts.append({ context->groupCount(), context->itemCount() });
    });
    QSignalSpy importing(&exchange, &DataExchange::importingChanged);
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(result.ok);
    QCOMPARE(progress.size(), 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(progress[i], (i + 1) / 8.0);
    const QList<QPair<int, int>> expected { { 1, 0 }, { 1, 1 }, { 1, 2 }, { 1, 3 }, { 2, 3 }, { 2, 4 },
        { 2, 5 }, { 2, 6 } };
    QCOMPARE(counts, expected);
    QCOMPARE(importing.count(), 2);
    QVERIFY(!exchange.isImporting());
    QCOMPARE(exchange.importProgress(), 1.0);

    // File order is kept within each group too.
    const QList<BookmarkGroup *> groups = context->groups();
    QCOMPARE(groups[1]->name(), QStringLiteral("B"));
    QStringList order;
    for (BookmarkItem *item : context->items())
        order.append(item->urlString());
    QCOMPARE(order,
        (QStringList { "https://a1.example", "https://a2.example", "https://a3.example", "https://b1.example",
            "https://b2.example", "https://b1.example" }));
    // A second import starts again from zero.
    progress.clear();
    QVERIFY(QCoro::waitFor(exchange.importData(path)).ok);
    QCOMPARE(progress.first(), 0.0);
    QCOMPARE(progress[1], 1 / 8.0);
}

void ExchangeTest::emptyLibraryImportsAsNothing()
{
    auto source = openStore();
    QVERIFY(source);
    const QString path = freshPath(QStringLiteral(".json"));
    DataExchange exporter(source->mainContext());
    exporter.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    StdoutCapture capture;
    QVERIFY(QCoro::waitFor(exporter.exportData(path)).ok);
    capture.finish();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const auto root = nlohmann::ordered_json::parse(file.readAll().toStdString());
    QVERIFY(root["groups"].is_array() && root["groups"].empty());

    auto target = openStore();
    QList<SentSignal> sent;
    DataExchange importer(target->mainContext());
    importer.setSignalHook(recordSignals(&sent));
    QSignalSpy progress(&importer, &DataExchange::importProgressChanged);
    const ImportResult result = QCoro::waitFor(importer.importData(path));
    QVERIFY(result.ok);
    QCOMPARE(progress.count(), 0);
    QCOMPARE(importer.importProgress(), 0.0);
    QCOMPARE(target->mainContext()->groupCount(), 0);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].parameters,
        (QMap<QString, QString> { { QStringLiteral("groupCount"), QStringLiteral("0") },
            { QStringLiteral("linkCount"), QStringLiteral("0") },
            { QStringLiteral("source"), QStringLiteral("bramble") } }));
}

void ExchangeTest::unopenableFileIsPermissionDenied()
{
    // Root reads any file, so the refusal comes from a folder standing where the file should be.
    const QString folder = freshPath(QStringLiteral(".json"));
    QVERIFY(QDir().mkpath(folder));
    auto store = openStore();
    QList<SentSignal> sent;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    QSignalSpy importing(&exchange, &DataExchange::importingChanged);
    const ImportResult result = QCoro::waitFor(exchange.importData(folder));
    QVERIFY(!result.ok);
    // Said as it is: a folder is not refused for want of permission.
    QVERIFY2(result.error.contains(QStringLiteral("is a folder")), qPrintable(result.error));
    QCOMPARE(importing.count(), 2);
    QVERIFY(!exchange.isImporting());
    QCOMPARE(store->mainContext()->groupCount(), 0);
    QVERIFY(sent.isEmpty());
}

void ExchangeTest::invalidFileCreatesNothing()
{
    // The first group is fine; the bad date in the second must still stop everything.
    QByteArray json = twoGroupsOfThree();
    json.replace(R"("urlString":"https://b2.example","createdAt":"2020-01-01T00:00:00Z")",
        R"("urlString":"https://b2.example","createdAt":"2020-01-01T00:00:00.25Z")");
    const QString path = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(path, json));
    auto store = openStore();
    QList<SentSignal> sent;
    QStringList fetched;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    exchange.setFetchFunction(recordFetches(&fetched));
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("In link 2 of group 2"))
            && result.error.contains(QStringLiteral("fractional")),
        qPrintable(result.error));
    QCOMPARE(store->mainContext()->groupCount(), 0);
    QCOMPARE(store->mainContext()->itemCount(), 0);
    QVERIFY(sent.isEmpty());
    QVERIFY(fetched.isEmpty());
    QVERIFY(!exchange.isImporting());
}

void ExchangeTest::exportFailureIsReportedNotSignalled()
{
    auto store = openStore();
    store->mainContext()->insert(new BookmarkGroup(QStringLiteral("g")));
    const QString folder = freshPath(QStringLiteral(".json"));
    QVERIFY(QDir().mkpath(folder));
    QList<SentSignal> sent;
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook(recordSignals(&sent));
    StdoutCapture capture;
    const ExportResult result = QCoro::waitFor(exchange.exportData(folder));
    const QString console = capture.finish();
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(console, result.error + QLatin1Char('\n'));
    QVERIFY(sent.isEmpty());
    QVERIFY(QFileInfo(folder).isDir());
}

void ExchangeTest::groupDeletedDuringImportLosesOnlyItsRemainingLinks()
{
    const QString path = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(path, twoGroupsOfThree()));
    auto store = openStore();
    ModelContext *context = store->mainContext();
    QStringList fetched;
    QList<SentSignal> sent;
    DataExchange exchange(context);
    exchange.setFetchFunction(recordFetches(&fetched));
    exchange.setSignalHook(recordSignals(&sent));
    QList<double> progress;
    connect(&exchange, &DataExchange::importProgressChanged, this, [&](double value) {
        progress.append(value);
        // The user deletes the new group "A" once its first link is in.
        if (value == 2 / 8.0)
            context->remove(context->groups().first());
    });
    QSignalSpy refreshed(&exchange, &DataExchange::metadataRefreshFinished);
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(result.ok);
    QCOMPARE(progress.last(), 1.0);
    QCOMPARE(progress.size(), 8);
    QCOMPARE(context->groupCount(), 1);
    QCOMPARE(context->groups().first()->name(), QStringLiteral("B"));
    QCOMPARE(context->itemCount(), 3);
    QCOMPARE(result.linkCount, 4);
    QVERIFY(refreshed.count() == 1 || refreshed.wait(5000));
    QCOMPARE(refreshed.first().first().toInt(), 3);
    QCOMPARE(fetched, (QStringList { "https://b1.example", "https://b2.example", "https://b1.example" }));
    runEventLoopTurn();
}

void ExchangeTest::largeImportGivesTheEventLoopTurns()
{
    constexpr int perGroup = 10000;
    ExportData data;
    for (int g = 0; g < 2; ++g) {
        ExportGroup group { QStringLiteral("G%1").arg(g), ExportData::currentTime(), {} };
        for (int i = 0; i < perGroup; ++i)
            group.bookmarks.append({ QStringLiteral("https://s%1.example/%2").arg(g).arg(i), std::nullopt,
                std::nullopt, ExportData::currentTime() });
        data.groups.append(group);
    }
    const QString path = freshPath(QStringLiteral(".json"));
    QString error;
    QVERIFY(JSONDocument(data).writeFile(path, &error));
    auto store = openStore();
    ModelContext *context = store->mainContext();
    QStringList fetched;
    DataExchange exchange(context);
    exchange.setFetchFunction(recordFetches(&fetched));
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    // A timer started once creation has begun must fire before creation ends; when it does,
    // the user deletes the group being filled.
    std::optional<double> seenByTimer;
    int linksOfVictim = -1;
    connect(&exchange, &DataExchange::importProgressChanged, this, [&](double) {
        if (seenByTimer || linksOfVictim >= 0)
            return;
        linksOfVictim = 0;
        QTimer::singleShot(0, this, [&] {
            seenByTimer = exchange.importProgress();
            BookmarkGroup *current = context->groups().last();
            linksOfVictim = int(current->bookmarks().size());
            context->remove(current);
        });
    });
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(result.ok);
    QVERIFY(seenByTimer);
    QVERIFY2(*seenByTimer < 1.0, qPrintable(QString::number(*seenByTimer)));
    QVERIFY(linksOfVictim > 0);
    QCOMPARE(exchange.importProgress(), 1.0);
    QCOMPARE(context->groupCount(), 1);
    QCOMPARE(context->itemCount(), perGroup);
    QCOMPARE(result.linkCount, perGroup + linksOfVictim);
    QCOMPARE(result.groupCount, 2);
    runEventLoopTurn();
}

void ExchangeTest::refreshKeepsFileSummariesAndSkipsDeletedLinks()
{
    TestHttpServer server;
    std::mutex mutex;
    QMap<QString, int> hits;
    const auto count = [&](const httplib::Request &request) {
        std::lock_guard lock(mutex);
        ++hits[QString::fromStdString(request.path)];
    };
    server.server().Get("/described", [&](const httplib::Request &request, httplib::Response &response) {
        count(request);
        response.set_content(R"(<html><head><title>Described Page</title>)"
                             R"(<meta name="description" content="The page's own words"></head></html>)",
            "text/html; charset=utf-8");
    });
    server.server().Get(R"(/plain\d?)", [&](const httplib::Request &request, httplib::Response &response) {
        count(request);
        response.set_content("<html><head><title>Plain</title></head></html>", "text/html; charset=utf-8");
    });
    server.server().Get(R"(/gone\d)", [&](const httplib::Request &request, httplib::Response &response) {
        count(request);
        response.set_content("<html></html>", "text/html");
    });
    server.server().Get(R"(/favicon.ico|/apple-touch-icon.*|/favicon.png)",
        [&](const httplib::Request &, httplib::Response &response) { response.status = 404; });
    QVERIFY(server.start());
    MetadataFetcher::Options options;
    options.raceTimeout = options.providerTimeout = options.iconProbeTimeout = options.pageTimeout
        = std::chrono::milliseconds(5000);
    MetadataFetcher::setOptions(options);

    const auto link = [&](const QString &path, const QByteArray &extra) {
        return R"({"urlString":")" + server.url(path).toUtf8() + "\"," + extra
            + R"("createdAt":"2020-01-01T00:00:00Z"})";
    };
    const QByteArray json = R"({"groups":[{"name":"Kept","createdAt":"2020-01-01T00:00:00Z","bookmarks":[)"
        + link("/described", R"("title":"old","summary":"from the file",)") + ","
        + link("/plain", R"("summary":"also from the file",)") + "," + link("/plain2", "") + ","
        + link("/plain3", R"("summary":"正在获取信息...",)") + "," + link("/gone1", "")
        + R"(]},{"name":"Dropped","createdAt":"2020-01-01T00:00:00Z","bookmarks":[)" + link("/gone2", "")
        + R"(]}],"exportedAt":"2020-01-02T00:00:00Z"})";
    const QString path = freshPath(QStringLiteral(".json"));
    QVERIFY(writeFile(path, json));

    auto store = openStore();
    ModelContext *context = store->mainContext();
    DataExchange exchange(context);
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    QSignalSpy refreshed(&exchange, &DataExchange::metadataRefreshFinished);
    const ImportResult result = QCoro::waitFor(exchange.importData(path));
    QVERIFY(result.ok);
    QVERIFY(exchange.isRefreshingMetadata());
    // Deleted while the first fetch is still on its way.
    BookmarkGroup *kept = context->groups().first();
    context->remove(kept->bookmarks().last());
    context->remove(context->groups().last());
    QVERIFY(refreshed.wait(30000));
    QCOMPARE(refreshed.first().first().toInt(), 4);
    QVERIFY(!exchange.isRefreshingMetadata());

    QMap<QString, BookmarkItem *> byPath;
    for (BookmarkItem *item : kept->bookmarks())
        byPath.insert(QUrl(item->urlString()).path(), item);
    QCOMPARE(byPath.size(), 4);
    // A restored backup keeps its own texts: only what the file lacked is filled in.
    QCOMPARE(byPath["/described"]->title(), std::optional<QString>(QStringLiteral("old")));
    QCOMPARE(byPath["/described"]->summary(), std::optional<QString>(QStringLiteral("from the file")));
    QCOMPARE(byPath["/plain"]->title(), std::optional<QString>(QStringLiteral("Plain")));
    QCOMPARE(byPath["/plain"]->summary(), std::optional<QString>(QStringLiteral("also from the file")));
    // The placeholder, whether given by the import or carried by the file, gives way to the host.
    QCOMPARE(byPath["/plain2"]->summary(), std::optional<QString>(QStringLiteral("127.0.0.1")));
    QCOMPARE(byPath["/plain3"]->summary(), std::optional<QString>(QStringLiteral("127.0.0.1")));
    std::lock_guard lock(mutex);
    QVERIFY(hits.value(QStringLiteral("/described")) > 0);
    QVERIFY(hits.value(QStringLiteral("/plain3")) > 0);
    QCOMPARE(hits.value(QStringLiteral("/gone1")), 0);
    QCOMPARE(hits.value(QStringLiteral("/gone2")), 0);
}

void ExchangeTest::unfinishedImportIsHiddenThenRemoved()
{
    ExportData data;
    for (int g = 0; g < 40; ++g) {
        ExportGroup group { QStringLiteral("Imported %1").arg(g), ExportData::currentTime(), {} };
        for (int i = 0; i < 500; ++i)
            group.bookmarks.append({ QStringLiteral("https://s%1.example/%2").arg(g).arg(i), std::nullopt,
                std::nullopt, ExportData::currentTime() });
        data.groups.append(group);
    }
    const QString file = freshPath(QStringLiteral(".json"));
    QString error;
    QVERIFY(JSONDocument(data).writeFile(file, &error));
    auto store = openStore();
    QVERIFY(store);
    const QString path = store->path();
    ModelContext *context = store->mainContext();
    auto *mine = new BookmarkGroup(QStringLiteral("mine"));
    context->insert(mine);
    new BookmarkItem(QStringLiteral("https://mine.example"), mine);
    QVERIFY(context->save());

    // The import stops half way, as a killed process would: several batches are on disk.
    auto *exchange = new DataExchange(context);
    exchange->setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    exchange->setFetchFunction(recordFetches(nullptr));
    int savesDuringImport = 0;
    connect(context, &ModelContext::saved, this, [&] { ++savesDuringImport; });
    connect(exchange, &DataExchange::importProgressChanged, this, [&](double progress) {
        if (progress > 0.5 && exchange) {
            // The user adds a group of their own meanwhile; it is not the import's.
            auto *during = new BookmarkGroup(QStringLiteral("added during the import"));
            context->insert(during);
            exchange->deleteLater();
            exchange = nullptr;
        }
    });
    QCoro::Task<ImportResult> importing = exchange->importData(file);
    const ImportResult cut = QCoro::waitFor(importing);
    QVERIFY(!cut.ok);
    QVERIFY(savesDuringImport > 2);
    QVERIFY(context->groupCount() > 3);
    QVERIFY(context->save());
    {
        // Half of it is in the file, listed as unfinished.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(
            query.exec(QStringLiteral("SELECT COUNT(*) FROM metadata WHERE key LIKE 'unfinishedImport:%'")));
        QVERIFY(query.next() && query.value(0).toInt() > 1);
        QVERIFY(query.exec(QStringLiteral("SELECT COUNT(*) FROM groups")));
        QVERIFY(query.next() && query.value(0).toInt() > 3);
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    store.reset();

    // A reader beside the owner does not see it, and removes nothing.
    const QStringList expected = { QStringLiteral("mine"), QStringLiteral("added during the import") };
    const auto names = [](ModelContext *opened) {
        QStringList result;
        for (BookmarkGroup *group : opened->groups())
            result << group->name();
        return result;
    };
    for (int round = 0; round < 2; ++round) {
        auto shared = ModelContainer::open(path, &error, ModelContainer::Access::Shared);
        QVERIFY2(shared, qPrintable(error));
        QCOMPARE(names(shared->mainContext()), expected);
        QCOMPARE(shared->mainContext()->itemCount(), 1);
        QVERIFY(!shared->removedImport());
    }

    // The next owner removes it, and says so.
    StdoutCapture capture;
    auto owner = ModelContainer::open(path, &error);
    const QString console = capture.finish();
    QVERIFY2(owner, qPrintable(error));
    QVERIFY(owner->removedImport());
    QVERIFY(owner->removedImport()->groupCount > 3);
    QVERIFY(owner->removedImport()->linkCount > 500);
    QVERIFY(console.startsWith(QStringLiteral("Removed what an unfinished import had added: ")));
    QCOMPARE(names(owner->mainContext()), expected);
    QCOMPARE(owner->mainContext()->itemCount(), 1);
    owner.reset();
    owner = ModelContainer::open(path, &error);
    QVERIFY(!owner->removedImport());

    // A whole import leaves nothing behind to remove.
    DataExchange whole(owner->mainContext());
    whole.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    whole.setFetchFunction(recordFetches(nullptr));
    QVERIFY(QCoro::waitFor(whole.importData(file)).ok);
    owner.reset();
    owner = ModelContainer::open(path, &error);
    QVERIFY(!owner->removedImport());
    QCOMPARE(owner->mainContext()->groupCount(), 42);
    runEventLoopTurn();
}

void ExchangeTest::secondImportWaitsForTheFirst()
{
    // Large enough to take several turns of the event loop.
    ExportData data;
    ExportGroup group { QStringLiteral("G"), ExportData::currentTime(), {} };
    for (int i = 0; i < 3000; ++i)
        group.bookmarks.append({ QStringLiteral("https://s.example/%1").arg(i), std::nullopt, std::nullopt,
            ExportData::currentTime() });
    data.groups = { group, group };
    const QString path = freshPath(QStringLiteral(".json"));
    QString error;
    QVERIFY(JSONDocument(data).writeFile(path, &error));
    auto store = openStore();
    DataExchange exchange(store->mainContext());
    exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
    exchange.setFetchFunction(recordFetches(nullptr));
    QCoro::Task<ImportResult> first = exchange.importData(path);
    QVERIFY(exchange.isImporting());
    const ImportResult second = QCoro::waitFor(exchange.importData(path));
    QVERIFY(!second.ok);
    QVERIFY2(second.error.contains(QStringLiteral("Another import")), qPrintable(second.error));
    QVERIFY(QCoro::waitFor(first).ok);
    QCOMPARE(store->mainContext()->groupCount(), 2);
}

BRAMBLE_TEST_CORE_MAIN(ExchangeTest)
#include "tst_exchange.moc"
