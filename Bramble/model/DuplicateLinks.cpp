#include "DuplicateLinks.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "GroupListModel.h"
#include "LinkAdder.h"
#include "ModelContext.h"
#include "exchange/LinkAddress.h"

#include <algorithm>

DuplicateLinks *DuplicateLinks::of(ModelContext *context)
{
    if (!context)
        return nullptr;
    if (auto *existing = context->findChild<DuplicateLinks *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new DuplicateLinks(context);
}

DuplicateLinks::DuplicateLinks(ModelContext *context)
    : QObject(context)
    , m_context(context)
{
    connect(context, &ModelContext::itemInserted, this, [this](BookmarkItem *item) {
        if (m_built)
            add(item);
    });
    connect(context, &ModelContext::itemRemoved, this, [this](qint64 id) {
        if (m_built)
            drop(id);
    });
    connect(context, &ModelContext::itemFieldsChanged, this, [this](BookmarkItem *item, int fields) {
        if (m_built && (fields & BookmarkItem::UrlField)) {
            drop(item->id());
            add(item);
        }
    });
}

void DuplicateLinks::build()
{
    // Built when first asked, so that a library nobody adds to never pays for it.
    const QList<BookmarkItem *> items = m_context->items();
    m_byKey.reserve(items.size());
    m_keyOf.reserve(items.size());
    for (BookmarkItem *item : items)
        add(item);
    m_built = true;
}

void DuplicateLinks::add(BookmarkItem *item)
{
    const QString key = LinkAddress::normalized(item->urlString());
    m_byKey[key].append(item->id());
    m_keyOf.insert(item->id(), key);
}

void DuplicateLinks::drop(qint64 id)
{
    const auto found = m_keyOf.find(id);
    if (found == m_keyOf.end())
        return;
    auto ids = m_byKey.find(found.value());
    if (ids != m_byKey.end()) {
        ids->removeAll(id);
        if (ids->isEmpty())
            m_byKey.erase(ids);
    }
    m_keyOf.erase(found);
}

QList<BookmarkItem *> DuplicateLinks::find(const QString &typed, const BookmarkItem *except)
{
    if (typed.trimmed().isEmpty())
        return {};
    if (!m_built)
        build();
    const QString key = LinkAddress::normalized(LinkAdder::normalizedAddress(typed));
    QList<BookmarkItem *> links;
    for (const qint64 id : m_byKey.value(key)) {
        BookmarkItem *item = m_context->item(id);
        if (item && item != except && !item->isDeleted())
            links.append(item);
    }
    const QList<BookmarkGroup *> order = GroupListModel::ordered(m_context);
    std::stable_sort(links.begin(), links.end(), [&order](const BookmarkItem *a, const BookmarkItem *b) {
        return order.indexOf(a->group()) < order.indexOf(b->group());
    });
    return links;
}

QString DuplicateLinks::notice(const QList<BookmarkItem *> &links)
{
    QStringList names;
    for (const BookmarkItem *link : links) {
        const QString name = link->group() ? link->group()->name() : QString();
        const QString quoted = QStringLiteral("「") + name + QStringLiteral("」");
        if (!names.contains(quoted))
            names << quoted;
    }
    if (names.isEmpty())
        return QString();
    return QStringLiteral("已在") + names.join(QStringLiteral("、")) + QStringLiteral("中");
}
