#pragma once

#include "LinkMetadata.h"

#include <QByteArrayView>
#include <QCoroTask>
#include <QString>
#include <chrono>
#include <optional>

// Turns a link's address into its title, summary and icon. Call it from the main thread; it
// suspends instead of blocking. It never fails: what it could not find is absent.
// At most three fetches are past the cache at any time in the process.
class MetadataFetcher
{
public:
    // Times of one fetch. Tests shorten them; the program keeps the defaults.
    struct Options
    {
        // How long the link preview may take before its answer is ignored.
        std::chrono::milliseconds raceTimeout { 10000 };
        // The link preview's own time-out. When it is no shorter than the race, the preview
        // timing out means the timer has won.
        std::chrono::milliseconds providerTimeout { 10000 };
        std::chrono::milliseconds iconProbeTimeout { 3000 };
        std::chrono::milliseconds pageTimeout { 5000 };
    };

    static constexpr qint64 maxPageBytes = 2 * 1024 * 1024;
    static constexpr qint64 maxIconBytes = 1024 * 1024;

    static QCoro::Task<LinkMetadata> fetchMetadata(const QString &urlString);

    // The description a page's bytes declare: the first match of the description patterns in the
    // page read as UTF-8, verbatim; absent when it is not UTF-8. No network or event loop; linear
    // in the size of the page. The fetch runs it on a page worker.
    static std::optional<QString> pageDescription(QByteArrayView body);

    static Options options();
    static void setOptions(const Options &options);

    MetadataFetcher() = delete;
};
