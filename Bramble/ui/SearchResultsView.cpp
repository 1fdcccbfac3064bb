#include "ui/SearchResultsView.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContext.h"
#include "search/SearchFolding.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContextMenu.h"
#include "ui/SearchResultsModel.h"
#include "ui/Symbols.h"

#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int rowHeight = BookmarkRowView::rowHeight;
constexpr int padding = 12;

QColor secondary(const QPalette &palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.55f);
    return color;
}

// Draws text on one line from the left of rect, the ranges on a marker; what does not fit is
// cut off with an ellipsis.
void drawMarked(QPainter *painter, const QRect &rect, const QString &text,
    const QList<SearchFolding::Range> &ranges, const QColor &color)
{
    const QFontMetrics metrics = painter->fontMetrics();
    const QString shown = metrics.elidedText(text, Qt::ElideRight, rect.width());
    // Elision keeps a prefix of the text; ranges past it are cut to what is shown.
    const int kept
        = shown.endsWith(QChar(0x2026)) && shown != text ? int(shown.size()) - 1 : int(text.size());
    const int baseline = rect.top() + (rect.height() + metrics.ascent() - metrics.descent()) / 2;
    QColor marker(255, 204, 0);
    marker.setAlphaF(0.45f);
    for (const SearchFolding::Range &range : ranges) {
        if (range.start >= kept)
            break;
        const int end = std::min(range.end, kept);
        const int left = rect.left() + metrics.horizontalAdvance(shown.left(range.start));
        const int width = metrics.horizontalAdvance(shown.mid(range.start, end - range.start));
        QPainterPath path;
        path.addRoundedRect(QRectF(left - 1, rect.top() + 1, width + 2, rect.height() - 2), 3, 3);
        painter->fillPath(path, marker);
    }
    painter->setPen(color);
    painter->drawText(QPoint(rect.left(), baseline), shown);
}

// A search row: the link's row as in its group (icon, title, caption) with the group's name
// at the end of the title line and the found words marked in title, summary and address.
class ResultRowDelegate : public QStyledItemDelegate
{
public:
    ResultRowDelegate(QListView *view, ModelContext *context, SearchResultsModel *model)
        : QStyledItemDelegate(view)
        , m_view(view)
        , m_model(model)
        , m_icons(new BookmarkRowView(view, context, this))
    { }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return QSize(option.rect.width() > 0 ? option.rect.width() : 200, rowHeight);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        BookmarkItem *item = m_model->itemAt(index.row());
        if (!item)
            return;
        const QPalette &palette = option.palette;
        const QRect card = QRect(BookmarkRowView::horizontalMargin, option.rect.top(),
            m_view->viewport()->width() - 2 * BookmarkRowView::horizontalMargin, rowHeight);
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        painter->fillPath(shape, palette.color(QPalette::Base));
        QColor outline = selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Mid);
        if (!selected)
            outline.setAlphaF(0.35f);
        painter->setPen(QPen(outline, selected ? 2 : 1));
        painter->drawPath(shape);

        const int side = BookmarkRowView::iconSide;
        const QRect iconRect(card.left() + padding, card.top() + (rowHeight - side) / 2, side, side);
        const QPixmap icon = m_icons->iconFor(item);
        if (!icon.isNull()) {
            QPainterPath clip;
            clip.addRoundedRect(QRectF(iconRect), 8, 8);
            painter->setClipPath(clip);
            painter->drawPixmap(iconRect, icon);
            painter->setClipping(false);
        } else {
            Symbols::icon(QStringLiteral("globe"), palette.color(QPalette::Highlight))
                .paint(painter, iconRect.adjusted(8, 8, -8, -8));
        }

        const QStringList words = m_model->words();
        const int textLeft = iconRect.right() + 1 + BookmarkRowView::elementSpacing;
        const QString groupName = item->group() ? item->group()->name() : QString();
        QFont small = option.font;
        small.setPointSizeF(small.pointSizeF() * 0.9);
        const QFontMetrics smallMetrics(small);
        const int groupWidth = std::min(smallMetrics.horizontalAdvance(groupName), card.width() / 3);
        const int right = card.right() - padding;
        const QRect titleLine(textLeft, card.top() + 10, right - textLeft - groupWidth - 8, 20);
        const QRect captionLine(textLeft, card.top() + 31, right - textLeft, 18);

        QFont titleFont = option.font;
        titleFont.setBold(true);
        painter->setFont(titleFont);
        const QString title = BookmarkRowView::titleText(item);
        drawMarked(
            painter, titleLine, title, SearchFolding::matches(title, words), palette.color(QPalette::Text));

        painter->setFont(small);
        painter->setPen(secondary(palette));
        painter->drawText(QRect(right - groupWidth, titleLine.top(), groupWidth, titleLine.height()),
            Qt::AlignRight | Qt::AlignVCenter,
            smallMetrics.elidedText(groupName, Qt::ElideRight, groupWidth));

        // The summary, then the address: both may hold what was found.
        const QString summary = item->summary().value_or(QString());
        QRect rest = captionLine;
        if (!summary.isEmpty()) {
            const int width = std::min(smallMetrics.horizontalAdvance(summary), rest.width() * 3 / 5);
            drawMarked(painter, QRect(rest.left(), rest.top(), width, rest.height()), summary,
                SearchFolding::matches(summary, words), secondary(palette));
            rest.setLeft(rest.left() + width + 12);
        }
        const QString address = item->urlString();
        drawMarked(painter, rest, address, SearchFolding::matches(address, words), secondary(palette));
        painter->restore();
    }

private:
    QListView *m_view;
    SearchResultsModel *m_model;
    BookmarkRowView *m_icons;
};

} // namespace

SearchResultsView::SearchResultsView(ModelContext *context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_model(new SearchResultsModel(context, this))
    , m_stack(new QStackedWidget(this))
    , m_list(new QListView)
    , m_empty(new QLabel)
{
    setObjectName(QStringLiteral("searchResults"));
    m_list->setObjectName(QStringLiteral("searchResultList"));
    m_empty->setObjectName(QStringLiteral("searchEmpty"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new ResultRowDelegate(m_list, context, m_model));
    m_list->setUniformItemSizes(true);
    m_list->setSpacing(BookmarkRowView::rowSpacing / 2);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(m_list, &QListView::customContextMenuRequested, this, &SearchResultsView::showMenu);
    connect(m_list, &QListView::doubleClicked, this,
        [this](const QModelIndex &index) { openItem(m_model->itemAt(index.row())); });

    QFont emptyFont = m_empty->font();
    emptyFont.setPointSizeF(emptyFont.pointSizeF() * 1.2);
    m_empty->setFont(emptyFont);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setTextFormat(Qt::PlainText);
    m_empty->setWordWrap(true);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    connect(m_model, &SearchResultsModel::resultsReady, this, &SearchResultsView::updateContent);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &SearchResultsView::updateContent);
}

SearchResultsView::~SearchResultsView() = default;

QString SearchResultsView::emptyText(const QString &query)
{
    return QStringLiteral("没有找到「") + query.trimmed() + QStringLiteral("」");
}

void SearchResultsView::setQuery(const QString &text)
{
    m_model->setQuery(text);
}

void SearchResultsView::updateContent()
{
    if (m_model->rowCount() == 0 && !m_model->words().isEmpty()) {
        m_empty->setText(emptyText(m_model->query()));
        m_stack->setCurrentWidget(m_empty);
        return;
    }
    m_stack->setCurrentWidget(m_list);
    // The best match is where Return goes without any arrow key.
    if (m_model->rowCount() > 0 && !m_list->currentIndex().isValid())
        m_list->setCurrentIndex(m_model->index(0));
}

BookmarkItem *SearchResultsView::currentItem() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? m_model->itemAt(current.row()) : nullptr;
}

void SearchResultsView::step(int step)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const QModelIndex current = m_list->currentIndex();
    const int row = current.isValid() ? std::clamp(current.row() + step, 0, rows - 1) : 0;
    m_list->setCurrentIndex(m_model->index(row));
    m_list->scrollTo(m_model->index(row));
}

void SearchResultsView::openCurrent()
{
    openItem(currentItem());
}

void SearchResultsView::openItem(BookmarkItem *item)
{
    if (BookmarkListView *commands = commandsFor(item))
        commands->openBookmark(item, false);
}

BookmarkListView *SearchResultsView::commandsFor(BookmarkItem *item)
{
    if (!item || item->isDeleted() || !item->group())
        return nullptr;
    if (m_commands && m_commands->group() == item->group())
        return m_commands;
    // An edit sheet the previous one opened stays with it until it closes.
    if (m_commands && !m_commands->editLinkView())
        m_commands->deleteLater();
    m_commands = new BookmarkListView(item->group(), m_context, this);
    m_commands->hide();
    return m_commands;
}

ContextMenu *SearchResultsView::createMenu(BookmarkItem *item, QWidget *parent)
{
    BookmarkListView *commands = commandsFor(item);
    if (!commands)
        return nullptr;
    ContextMenu *menu = commands->createBookmarkMenu(item, parent);
    menu->addSeparator();
    const QPointer<BookmarkItem> target(item);
    connect(menu->addAction(QStringLiteral("在分组中显示")), &QAction::triggered, this, [this, target] {
        if (target && !target->isDeleted())
            Q_EMIT showInGroupRequested(target);
    });
    return menu;
}

void SearchResultsView::showMenu(const QPoint &position)
{
    const QModelIndex index = m_list->indexAt(position);
    BookmarkItem *item = index.isValid() ? m_model->itemAt(index.row()) : nullptr;
    if (!item)
        return;
    m_list->setCurrentIndex(index);
    ContextMenu *menu = createMenu(item, this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}
