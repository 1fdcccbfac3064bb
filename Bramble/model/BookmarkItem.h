#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class BookmarkGroup;
class ModelContext;

// One link inside a group. Optional texts keep "absent" and "empty" apart.
// Icon bytes are read from the store the first time iconData() is called.
class BookmarkItem : public QObject
{
    Q_OBJECT

public:
    BookmarkItem(const QString &urlString, BookmarkGroup *group);
    ~BookmarkItem() override;

    qint64 id() const { return m_id; }
    ModelContext *context() const { return m_context; }
    bool isDeleted() const { return m_deleted; }

    QString urlString() const { return m_urlString; }
    void setUrlString(const QString &urlString);
    std::optional<QString> title() const { return m_title; }
    void setTitle(const std::optional<QString> &title);
    std::optional<QString> summary() const { return m_summary; }
    void setSummary(const std::optional<QString> &summary);
    // Loads the bytes from the store on first use.
    std::optional<QByteArray> iconData() const;
    void setIconData(const std::optional<QByteArray> &iconData);
    qint64 sortOrder() const { return m_sortOrder; }
    void setSortOrder(qint64 sortOrder);
    QDateTime createdAt() const { return m_createdAt; }
    void setCreatedAt(const QDateTime &createdAt);
    BookmarkGroup *group() const { return m_group; }
    // Moves the item to another group (or none); both ends stay consistent.
    void setGroup(BookmarkGroup *group);

Q_SIGNALS:
    void urlStringChanged();
    void titleChanged();
    void summaryChanged();
    void iconDataChanged();
    void sortOrderChanged();
    void createdAtChanged();
    void groupChanged();
    // Any stored field of this item changed.
    void changed();

public:
    enum Field {
        UrlField = 1,
        TitleField = 2,
        SummaryField = 4,
        IconField = 8,
        SortField = 16,
        CreatedField = 32,
        GroupField = 64
    };

private:
    friend class BookmarkGroup;
    friend class ModelContext;
    void markDirty(Field field);

    qint64 m_id = 0;
    ModelContext *m_context = nullptr;
    bool m_deleted = false;
    QString m_urlString;
    std::optional<QString> m_title;
    std::optional<QString> m_summary;
    mutable std::optional<QByteArray> m_iconData;
    mutable bool m_iconLoaded = true;
    qint64 m_sortOrder = 0;
    QDateTime m_createdAt;
    QPointer<BookmarkGroup> m_group;
};
