#pragma once

#include "ImportedBookmarks.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

// Turns a browser's tree of folders into Bramble's flat groups, in the browser's order:
// every folder that directly holds links becomes one group named by its path, joined with
// " / " ("书签工具栏 / 工作 / Rust"); links outside any folder go to one group whose name is
// set with setLooseLinksName(); empty folders make no group. Non-web links are counted and
// left out. A plain value: usable on any thread.
class BookmarkTreeBuilder
{
public:
    // Deeper trees are refused as a whole rather than cut.
    static constexpr int maxFolderDepth = 64;
    static constexpr int maxLinks = 1'000'000;
    // An inline icon larger than this, decoded, is dropped.
    static constexpr qsizetype maxIconBytes = 1024 * 1024;
    // Longer titles, summaries and folder names are cut; longer addresses are not web links.
    static constexpr qsizetype maxTextLength = 4096;
    static constexpr qsizetype maxAddressLength = 32 * 1024;

    explicit BookmarkTreeBuilder(QString source);

    // False, with error() set, when the tree would grow deeper than maxFolderDepth.
    bool enterFolder(const QString &name, const QDateTime &createdAt = {});
    void leaveFolder();
    int depth() const { return int(m_folders.size()); }

    // Empty title or summary: the file had none. A null createdAt: unknown. False, with
    // error() set, once there are more than maxLinks links.
    bool addLink(const QString &urlString, const QString &title, const QString &summary = {},
        const QDateTime &createdAt = {}, const QByteArray &iconData = {});
    // The summary of the last link added, for formats that give it after the link.
    void setLastLinkSummary(const QString &summary);
    bool hasLastLink() const { return m_lastGroup >= 0; }
    void forgetLastLink() { m_lastGroup = -1; }

    // The group of links outside any folder; BookmarkRoots::unsorted unless set.
    void setLooseLinksName(const QString &name) { m_looseName = name; }

    void fail(const QString &error);
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

    ImportedBookmarks finish();

    // Whitespace runs that hold a line break or tab become one space, the ends are trimmed,
    // and the text is cut at maxTextLength.
    static QString cleanText(const QString &text);
    // The image bytes of a "data:image/...;base64,..." address, when they decode as an image
    // of at most maxIconBytes; empty otherwise.
    static QByteArray iconFromDataUri(const QString &uri);
    // Seconds (or milliseconds, or microseconds, told apart by size) since 1970; null when
    // absent, zero or out of range.
    static QDateTime fromUnixTime(qint64 value);
    // Chromium: microseconds since 1601-01-01.
    static QDateTime fromWindowsMicroseconds(qint64 value);

private:
    struct Group
    {
        QString name;
        QDateTime createdAt;
        QList<ExportItem> links;
        bool loose = false;
    };
    struct Folder
    {
        QString path;
        int group = -1;
    };

    int looseGroup();

    QString m_source;
    QString m_looseName;
    QString m_error;
    QDateTime m_now;
    std::vector<Group> m_groups;
    std::vector<Folder> m_folders;
    int m_loose = -1;
    int m_lastGroup = -1;
    int m_linkCount = 0;
    int m_skippedNonWeb = 0;
};
