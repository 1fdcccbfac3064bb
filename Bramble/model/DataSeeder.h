#pragma once

#include "metadata/LinkMetadata.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <functional>

class ModelContext;

// Gives a store without any group one default group with two example links, then fills the
// links' titles, summaries and icons from the metadata fetcher in the background.
class DataSeeder
{
public:
    using FetchFunction = std::function<QCoro::Task<LinkMetadata>(const QString &urlString)>;

    static inline const QString defaultGroupName = QStringLiteral("默认分组");
    static inline const QString placeholderSummary = QStringLiteral("正在获取信息...");

    // Does nothing unless the store holds no group. Never fails towards the caller.
    static void seedDefaultDataIfNeeded(ModelContext *context);

    // The two example addresses. Tests point them at a loopback server.
    static QStringList defaultAddresses();
    static void setDefaultAddresses(const QStringList &addresses);
    // Null restores MetadataFetcher::fetchMetadata.
    static void setFetchFunction(FetchFunction fetch);
    // Metadata tasks started by seeding that have not finished yet.
    static int runningMetadataTasks();

    DataSeeder() = delete;
};
