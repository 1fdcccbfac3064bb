// Search at the size of a very large library: 1,000 groups of 100 links, a tenth of them
// Chinese, with titles and summaries made of ordinary words.
#include "exchange/DataExchange.h"
#include "exchange/ExportData.h"
#include "exchange/JSONDocument.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "search/Fts5Trigram.h"
#include "search/LinkSearch.h"
#include "search/SearchIndex.h"
#include "support/BenchTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int groupCount = 1000;
constexpr int linksPerGroup = 100;

const QStringList english = QStringLiteral(
    "how to build a fast search index for bookmarks in rust python java kotlin swift linux debian "
    "kernel network proxy server client guide tutorial review news weather recipe travel hotel "
    "flight music video stream photo camera design color font layout grid browser extension "
    "privacy security password backup cloud storage database query cache memory thread async "
    "performance benchmark release notes changelog documentation reference manual api library "
    "framework component testing deploy container cluster monitor logging metrics dashboard "
    "report finance budget market stock crypto garden coffee café résumé naïve Zürich Ölmühle "
    "science history museum science space rocket planet climate energy solar battery electric")
                                .split(QLatin1Char(' '));
const QStringList chinese = QStringLiteral(
    "首页 新闻 腾讯 网易 百度 搜索 地图 音乐 视频 天气 旅游 酒店 机票 美食 菜谱 读书 豆瓣 知乎 "
    "问答 编程 教程 文档 开源 项目 数据库 服务器 网络 安全 隐私 备份 存储 设计 字体 颜色 摄影 "
    "相机 科技 历史 博物馆 太空 火箭 气候 能源 电池 金融 股票 市场 咖啡 花园 学习 笔记 工具")
                                .split(QLatin1Char(' '));
const QStringList domains = { QStringLiteral("example.com"), QStringLiteral("docs.example.org"),
    QStringLiteral("news.example.net"), QStringLiteral("blog.example.io"), QStringLiteral("shop.example.cn"),
    QStringLiteral("wiki.example.de") };

QString words(QRandomGenerator &random, const QStringList &from, int count, const QString &separator)
{
    QStringList picked;
    for (int i = 0; i < count; ++i)
        picked << from.at(int(random.bounded(from.size())));
    return picked.join(separator);
}

ExportData generatedLibrary()
{
    QRandomGenerator random(18);
    ExportData data;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);
    int n = 0;
    for (int g = 0; g < groupCount; ++g) {
        ExportGroup group { QStringLiteral("分组 %1").arg(g), start, {} };
        group.bookmarks.reserve(linksPerGroup);
        for (int i = 0; i < linksPerGroup; ++i, ++n) {
            const bool han = n % 10 == 0;
            const QString title = han
                ? words(random, chinese, 3 + int(random.bounded(3)), QString())
                : words(random, english, 4 + int(random.bounded(5)), QStringLiteral(" "));
            const QString summary = han
                ? words(random, chinese, 8 + int(random.bounded(8)), QString()) + QStringLiteral("。")
                : words(random, english, 10 + int(random.bounded(10)), QStringLiteral(" "))
                    + QStringLiteral(".");
            const QString address
                = QStringLiteral("https://%1/%2/%3")
                      .arg(domains.at(n % domains.size()), words(random, english, 2, QStringLiteral("-")))
                      .arg(n);
            group.bookmarks.append({ address, title, summary, start.addSecs(n * 60) });
        }
        data.groups.append(std::move(group));
    }
    return data;
}

struct Timing
{
    double median = 0;
    double p99 = 0;
    double hits = 0;
};

Timing timeQueries(const SearchIndex &index, const QStringList &queries, int limit)
{
    std::vector<double> times;
    double hits = 0;
    // Two rounds: the second one is measured, with the pages the first one read still cached,
    // as they are while somebody types.
    for (int round = 0; round < 2; ++round) {
        for (const QString &text : queries) {
            const auto start = Clock::now();
            const QList<LinkSearch::Hit> found = index.find({ text, {}, limit });
            const double ms = Bench::msSince(start);
            if (round == 1) {
                times.push_back(ms);
                hits += double(found.size());
            }
        }
    }
    std::sort(times.begin(), times.end());
    Timing timing;
    timing.median = Bench::median(times);
    timing.p99 = times[std::min(times.size() - 1, size_t(double(times.size()) * 0.99))];
    timing.hits = hits / double(queries.size());
    return timing;
}

// Queries as people type them: whole words, and the first characters of words.
QStringList makeQueries(int wordsPerQuery, int prefixLength, int count)
{
    QRandomGenerator random(7 + wordsPerQuery * 10 + prefixLength);
    QStringList queries;
    for (int i = 0; i < count; ++i) {
        const bool han = i % 10 == 0;
        const QStringList &from = han ? chinese : english;
        QStringList parts;
        for (int w = 0; w < wordsPerQuery; ++w) {
            QString word = from.at(int(random.bounded(from.size())));
            if (prefixLength > 0)
                word = word.left(prefixLength);
            parts << word;
        }
        queries << parts.join(QLatin1Char(' '));
    }
    return queries;
}

struct Kind
{
    const char *name;
    int words;
    int prefix;
};
const Kind kinds[]
    = { { "one word", 1, 0 }, { "two words", 2, 0 }, { "three words", 3, 0 }, { "one character", 1, 1 },
          { "two characters", 1, 2 }, { "three characters", 1, 3 }, { "five characters", 1, 5 } };
constexpr int queriesPerKind = 200;

qint64 fileBytes(const QString &path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

QString mib(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

// A copy of the store, opened with the settings the store itself is opened with.
QSqlDatabase openCopy(QSqlDatabase &source, const QString &path, const QString &name)
{
    QSqlQuery(source).exec(QStringLiteral("VACUUM INTO '%1'").arg(path));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.open();
    for (const char *pragma :
        { "PRAGMA foreign_keys = ON", "PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL" })
        QSqlQuery(db).exec(QLatin1String(pragma));
    return db;
}

void closeCopy(QSqlDatabase &db)
{
    const QString name = db.connectionName();
    const QString path = db.databaseName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(path + suffix);
}

qint64 compactBytes(QSqlDatabase &db, const QString &path)
{
    QSqlQuery(db).exec(QStringLiteral("VACUUM INTO '%1'").arg(path));
    const qint64 bytes = QFileInfo(path).size();
    QFile::remove(path);
    return bytes;
}

// Milliseconds to insert every link, committing after each batch; negative when an insert failed.
template<typename Insert>
double fillInBatches(
    QSqlDatabase &db, const std::vector<Fts5Trigram::Link> &links, size_t batch, Insert insert)
{
    const auto start = Clock::now();
    for (size_t i = 0; i < links.size(); i += batch) {
        db.transaction();
        for (size_t j = i; j < std::min(links.size(), i + batch); ++j) {
            if (!insert(links[j])) {
                db.rollback();
                return -1;
            }
        }
        db.commit();
    }
    return Bench::msSince(start);
}

bool sameHits(const QList<LinkSearch::Hit> &a, const QList<LinkSearch::Hit> &b)
{
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const LinkSearch::Hit &x, const LinkSearch::Hit &y) {
            return x.itemId == y.itemId && x.rank == y.rank;
        });
}

// The alternative the store does not use, on copies of the same store, with the same queries:
// an FTS5 trigram table over the same folded texts in place of search_text.
bool measureFts5(Bench::Table &table, QSqlDatabase &store, const SearchIndex &index, const QTemporaryDir &dir,
    double importMs, qint64 withIndex, qint64 withoutIndex)
{
    // An import saves a batch and gives the event loop a turn; it starts with batches of this size.
    constexpr size_t importBatch = 200;
    constexpr int ftsQueries = 50;
    QString error;
    const std::vector<Fts5Trigram::Link> links = Fts5Trigram::readLinks(store, &error);
    if (links.empty()) {
        std::fprintf(stderr, "reading the links failed: %s\n", qPrintable(error));
        return false;
    }
    const auto failed = [&](const char *what) {
        std::fprintf(stderr, "FTS5 %s failed: %s\n", what, qPrintable(error));
        return false;
    };

    // search_text filled the same way, to tell what the FTS5 table adds to an import.
    double plainBatchedMs = 0;
    {
        QSqlDatabase db
            = openCopy(store, dir.filePath(QStringLiteral("plain.sqlite")), QStringLiteral("plain"));
        QSqlQuery(db).exec(QStringLiteral("DELETE FROM search_text"));
        QSqlQuery(db).exec(QStringLiteral("VACUUM"));
        {
            LinkSearch::Writer writer(db);
            plainBatchedMs = fillInBatches(db, links, importBatch, [&](const Fts5Trigram::Link &link) {
                return writer.insert(link.id, link.address, link.title, link.summary);
            });
            error = writer.lastError();
        }
        closeCopy(db);
        if (plainBatchedMs < 0)
            return failed("plain batched fill");
    }
    double batchedMs = 0;
    qint64 batchedBytes = 0;
    {
        QSqlDatabase db
            = openCopy(store, dir.filePath(QStringLiteral("batched.sqlite")), QStringLiteral("batched"));
        QSqlQuery(db).exec(QStringLiteral("DROP TABLE search_text"));
        QSqlQuery(db).exec(QStringLiteral("VACUUM"));
        {
            Fts5Trigram fts(db);
            if (!fts.create(&error))
                return failed("create");
            batchedMs = fillInBatches(db, links, importBatch,
                [&](const Fts5Trigram::Link &link) { return fts.insert(link, &error); });
        }
        batchedBytes = compactBytes(db, dir.filePath(QStringLiteral("batched-compact.sqlite")));
        closeCopy(db);
        if (batchedMs < 0)
            return failed("batched fill");
    }

    QSqlDatabase db = openCopy(store, dir.filePath(QStringLiteral("fts.sqlite")), QStringLiteral("fts"));
    QSqlQuery(db).exec(QStringLiteral("DROP TABLE search_text"));
    QSqlQuery(db).exec(QStringLiteral("VACUUM"));
    auto fts = std::make_unique<Fts5Trigram>(db);
    if (!fts->create(&error))
        return failed("create");
    const double oneMs = fillInBatches(
        db, links, links.size(), [&](const Fts5Trigram::Link &link) { return fts->insert(link, &error); });
    if (oneMs < 0)
        return failed("fill");
    const qint64 ftsBytes = compactBytes(db, dir.filePath(QStringLiteral("fts-compact.sqlite")));

    const QString prefix = QStringLiteral("FTS5 trigram: ");
    table.add(QStringLiteral("-- not used: FTS5 trigram table in place of search_text --"), QString());
    table.add(QStringLiteral("   (queries: the first %1 of each kind's %2 above)")
                  .arg(ftsQueries)
                  .arg(queriesPerKind),
        QString());
    table.add(prefix + QStringLiteral("fold and store 100,000 links (one transaction)"), Bench::ms(oneMs));
    table.add(prefix + QStringLiteral("per link, %1 a transaction as an import").arg(importBatch),
        QString::number(batchedMs * 1000.0 / double(links.size()), 'f', 1) + QStringLiteral(" us"));
    table.add(QStringLiteral("search_text: per link, %1 a transaction as an import").arg(importBatch),
        QString::number(plainBatchedMs * 1000.0 / double(links.size()), 'f', 1) + QStringLiteral(" us"));
    table.add(prefix + QStringLiteral("import 100,000 links, extrapolated"),
        Bench::ms(importMs - plainBatchedMs + batchedMs), QStringLiteral("< 3000 ms"));
    table.add(prefix + QStringLiteral("store size (filled at once / by import)"),
        mib(ftsBytes) + QStringLiteral(" / ") + mib(batchedBytes));
    table.add(prefix + QStringLiteral("table size on disk (filled at once)"), mib(ftsBytes - withoutIndex));
    table.add(prefix + QStringLiteral("store larger than with search_text by"), mib(ftsBytes - withIndex));

    for (const int limit : { 1000, 0 }) {
        for (const Kind &kind : kinds) {
            const QString which = QStringLiteral("%1, %2").arg(QLatin1String(kind.name),
                limit ? QStringLiteral("first %1").arg(limit) : QStringLiteral("all"));
            if (kind.prefix > 0 && kind.prefix < 3) {
                table.add(prefix + which, QStringLiteral("cannot answer"), QStringLiteral("needs 3+ chars"));
                continue;
            }
            // The first of the same queries: all of them would take minutes at these speeds.
            const QStringList queries
                = makeQueries(kind.words, kind.prefix, queriesPerKind).mid(0, ftsQueries);
            std::vector<double> times;
            qint64 expectedHits = 0;
            qint64 hits = 0;
            int differing = 0;
            int scans = 0;
            // A first round brings the pages into the cache, as for the index; a short one, since
            // the file was just written anyway.
            for (int round = 0; round < 2; ++round) {
                for (const QString &text : round == 0 ? queries.mid(0, 10) : queries) {
                    bool scanned = false;
                    const auto start = Clock::now();
                    const auto found = fts->find(text, limit, &scanned, &error);
                    const double ms = Bench::msSince(start);
                    if (!found)
                        return failed("query");
                    if (round == 0)
                        continue;
                    times.push_back(ms);
                    const QList<LinkSearch::Hit> expected = index.find({ text, {}, limit });
                    expectedHits += expected.size();
                    hits += found->size();
                    differing += sameHits(*found, expected) ? 0 : 1;
                    scans += scanned ? 1 : 0;
                }
            }
            std::sort(times.begin(), times.end());
            const double p99 = times[std::min(times.size() - 1, size_t(double(times.size()) * 0.99))];
            // Queries whose words all have fewer than three characters (most Chinese words, "a",
            // "to") have no trigram: they scan the table, counted here.
            QString label = prefix + which
                + QStringLiteral(" (hits %1 / index %2")
                      .arg(qRound(double(hits) / double(queries.size())))
                      .arg(qRound(double(expectedHits) / double(queries.size())));
            if (differing)
                label += QStringLiteral(", %1 differ").arg(differing);
            if (scans)
                label += QStringLiteral(", %1 scans").arg(scans);
            table.add(label + QLatin1Char(')'),
                Bench::ms(Bench::median(times)) + QStringLiteral(" / ") + Bench::ms(p99),
                QStringLiteral("< 5 / < 16 ms"));
        }
    }
    fts.reset();
    closeCopy(db);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Bench::Table table;
    const QString sourceFile = dir.filePath(QStringLiteral("generated.json"));
    {
        QString error;
        if (!JSONDocument(generatedLibrary()).writeFile(sourceFile, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    double importMs = 0;
    {
        QString error;
        auto container = ModelContainer::open(path, &error);
        if (!container) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        DataExchange exchange(container->mainContext());
        exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
        exchange.setRefreshAfterImport(false);
        const auto start = Clock::now();
        const ImportResult imported = QCoro::waitFor(exchange.importData(sourceFile));
        importMs = Bench::msSince(start);
        if (!imported.ok) {
            std::fprintf(stderr, "import failed: %s\n", qPrintable(imported.error));
            return 1;
        }
    }

    // What the index alone costs: built again over the same 100,000 links in one transaction.
    double indexBuildMs = 0;
    qint64 withIndex = 0;
    qint64 withoutIndex = 0;
    {
        const QString copy = dir.filePath(QStringLiteral("copy.sqlite"));
        const QString compact = dir.filePath(QStringLiteral("compact.sqlite"));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("measure"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("VACUUM INTO '%1'").arg(compact));
        withIndex = QFileInfo(compact).size();
        QSqlQuery(db).exec(QStringLiteral("VACUUM INTO '%1'").arg(copy));
        db.close();
        db.setDatabaseName(copy);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("DROP TABLE search_text"));
        QSqlQuery(db).exec(QStringLiteral("VACUUM"));
        withoutIndex = QFileInfo(copy).size();
        db.transaction();
        QString error;
        const auto start = Clock::now();
        const bool built = LinkSearch::createIndex(db, &error);
        db.commit();
        indexBuildMs = Bench::msSince(start);
        if (!built)
            std::fprintf(stderr, "index build failed: %s\n", qPrintable(error));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("measure"));
    }

    const auto openStart = Clock::now();
    QString error;
    auto container = ModelContainer::open(path, &error, ModelContainer::Access::Shared);
    const double openMs = Bench::msSince(openStart);
    if (!container) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QSqlDatabase db = container->database();
    const auto loadStart = Clock::now();
    const std::shared_ptr<const SearchIndex> index = SearchIndex::load(db, &error);
    const double loadMs = Bench::msSince(loadStart);
    if (!index) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    table.add(QStringLiteral("import 100,000 links, index included: time until success"), Bench::ms(importMs),
        QStringLiteral("< 3000 ms"));
    table.add(QStringLiteral("index alone: fold and store 100,000 links (one transaction)"),
        Bench::ms(indexBuildMs));
    table.add(QStringLiteral("store size on disk without / with the index"),
        mib(withoutIndex) + QStringLiteral(" / ") + mib(withIndex));
    table.add(QStringLiteral("index size on disk"), mib(withIndex - withoutIndex));
    table.add(QStringLiteral("open the store of 100,000 links"), Bench::ms(openMs));
    table.add(QStringLiteral("store file as left by the import (with its log)"), mib(fileBytes(path)));
    table.add(
        QStringLiteral("read the folded texts into memory (first search, after a save)"), Bench::ms(loadMs));
    table.add(QStringLiteral("folded texts in memory"), mib(index->memoryBytes()));

    for (const int limit : { 1000, 0 }) {
        for (const Kind &kind : kinds) {
            const QStringList queries = makeQueries(kind.words, kind.prefix, queriesPerKind);
            const Timing timing = timeQueries(*index, queries, limit);
            const QString what
                = QStringLiteral("query, %1, %2: median / p99 (avg hits %3)")
                      .arg(QLatin1String(kind.name),
                          limit ? QStringLiteral("first %1").arg(limit) : QStringLiteral("all"))
                      .arg(qRound(timing.hits));
            table.add(what, Bench::ms(timing.median) + QStringLiteral(" / ") + Bench::ms(timing.p99),
                QStringLiteral("< 5 / < 16 ms"));
        }
    }
    if (!measureFts5(table, db, *index, dir, importMs, withIndex, withoutIndex))
        return 1;
    table.print();
    return 0;
}
