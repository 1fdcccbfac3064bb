#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class BookmarkItem;
class ModelContext;

// Which links of the library already have an address, compared the way people write the same
// address differently: scheme and host in any case, with or without a trailing slash, a
// default port or a fragment (LinkAddress::normalized). Every place that adds a link asks here
// before it does: the add alert, the edit sheet and the command line.
class DuplicateLinks : public QObject
{
    Q_OBJECT

public:
    // The one instance of the context, made on first use and kept in step with it.
    static DuplicateLinks *of(ModelContext *context);

    // The links holding this address (as typed: "https://" is put in front of text without a
    // scheme, as adding does), in sidebar order of their groups; except is left out.
    QList<BookmarkItem *> find(const QString &typed, const BookmarkItem *except = nullptr);

    // "已在「工作」中", or with several groups "已在「工作」、「阅读」中"; empty for no link.
    static QString notice(const QList<BookmarkItem *> &links);

private:
    explicit DuplicateLinks(ModelContext *context);
    void build();
    void add(BookmarkItem *item);
    void drop(qint64 id);

    ModelContext *m_context;
    bool m_built = false;
    QHash<QString, QList<qint64>> m_byKey;
    QHash<qint64, QString> m_keyOf;
};
