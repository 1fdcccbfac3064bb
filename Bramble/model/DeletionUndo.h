#pragma once

#include "model/ModelContext.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class BookmarkGroup;
class BookmarkItem;

// Deletes a group or a link at once, keeping what is needed to put it back: the last deletion
// can be undone while nothing else has been deleted. One per context, shared by every place
// that deletes, so the window offers to undo whatever was deleted last.
class DeletionUndo : public QObject
{
    Q_OBJECT

public:
    // The context's own, created on first use; it lives as long as the context.
    static DeletionUndo *of(ModelContext *context);

    explicit DeletionUndo(ModelContext *context);

    // Both delete as ModelContext::remove does (a group with its links) and replace what an
    // earlier deletion left to undo.
    void deleteGroup(BookmarkGroup *group);
    void deleteLink(BookmarkItem *link);

    bool canUndo() const { return m_pending.has_value(); }
    bool lastWasGroup() const { return m_pending && m_pending->isGroup; }
    // The deleted group's name, or the link's title (its address without one).
    QString lastName() const { return m_pending ? m_pending->displayName : QString(); }

    struct Restored
    {
        BookmarkGroup *group = nullptr;
        // Null when a group came back.
        BookmarkItem *link = nullptr;
    };
    // Puts the last deletion back: a group with its name, position, creation time and every
    // link; a link into its group at its old position with all its fields. A link whose group
    // is gone meanwhile cannot come back; nothing is done then.
    Restored undo();
    // Nothing left to undo.
    void forget();

Q_SIGNALS:
    void deleted(const QString &name);
    void undone();
    void forgotten();

private:
    struct Link
    {
        QString urlString;
        std::optional<QString> title;
        std::optional<QString> summary;
        std::optional<QByteArray> iconData;
        qint64 sortOrder = 0;
        QDateTime createdAt;
        ModelContext::RefreshMode refresh = ModelContext::RefreshMode::None;
    };
    struct Snapshot
    {
        bool isGroup = false;
        QString displayName;
        QString groupName;
        qint64 groupSortOrder = 0;
        QDateTime groupCreatedAt;
        // Where it was shown: among the groups, or among its group's links.
        qsizetype position = 0;
        // The group a deleted link belonged to.
        QPointer<BookmarkGroup> owner;
        QList<Link> links;
    };
    Link snapshot(const BookmarkItem *link) const;
    BookmarkItem *rebuild(const Link &link, BookmarkGroup *group);

    QPointer<ModelContext> m_context;
    std::optional<Snapshot> m_pending;
};
