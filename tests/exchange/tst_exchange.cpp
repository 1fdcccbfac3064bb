#include "exchange/ExportData.h"
#include "exchange/JSONDocument.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>
#include <nlohmann/json.hpp>

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
    data.groups.append({ QString(), utc(2025, 1, 1, 0, 0, 0), {} });
    return data;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json &object)
{
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.push_back(it.key());
    return keys;
}

} // namespace

class ExchangeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static std::optional<ExportData> decode(const QByteArray &json, QString *error = nullptr);

    // Fails the read and returns its message.
    static QString rejection(const QByteArray &json);

private Q_SLOTS:
    void roundTripKeepsEveryText();
    void writtenFileHasFixedMemberOrderAndNoNulls();
    void datesAreWrittenInWholeSecondsUtc();
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
};

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

BRAMBLE_TEST_CORE_MAIN(ExchangeTest)
#include "tst_exchange.moc"
