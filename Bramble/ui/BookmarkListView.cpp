#include "ui/BookmarkListView.h"

#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/DeletionUndo.h"
#include "model/GroupListModel.h"
#include "model/LinkAdder.h"
#include "model/LinkMover.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "ui/AddressTexts.h"
#include "ui/Alerts.h"
#include "ui/BookmarkListKeys.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContextMenu.h"
#include "ui/DropState.h"
#include "ui/DuplicatePrompt.h"
#include "ui/EditLinkView.h"
#include "ui/LinkOpener.h"
#include "ui/OpenAllAlert.h"
#include "ui/RowMoveAnimator.h"
#include "ui/ShareMenu.h"
#include "ui/Symbols.h"
#include "ui/TextFieldAlert.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QColor secondaryText(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

// What the pane shows while the group has no link.
QWidget *makeEmptyState(QWidget *parent)
{
    auto *panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("emptyState"));
    auto *symbol = new QLabel(panel);
    symbol->setObjectName(QStringLiteral("emptyStateSymbol"));
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setPixmap(Symbols::pixmap(
        QStringLiteral("link"), QSize(44, 44), secondaryText(panel->palette()), panel->devicePixelRatioF()));
    auto *title = new QLabel(QStringLiteral("暂无链接"), panel);
    title->setObjectName(QStringLiteral("emptyStateTitle"));
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title->setFont(titleFont);
    auto *description = new QLabel(QStringLiteral("点击右上角的 + 添加新链接"), panel);
    description->setObjectName(QStringLiteral("emptyStateDescription"));
    description->setAlignment(Qt::AlignCenter);
    QPalette descriptionPalette = description->palette();
    descriptionPalette.setColor(QPalette::WindowText, secondaryText(descriptionPalette));
    description->setPalette(descriptionPalette);
    auto *layout = new QVBoxLayout(panel);
    layout->addStretch(1);
    layout->addWidget(symbol);
    layout->addWidget(title);
    layout->addWidget(description);
    layout->addStretch(1);
    return panel;
}

} // namespace

BookmarkListView::BookmarkListView(BookmarkGroup *group, ModelContext *modelContext, QWidget *parent)
    : QWidget(parent)
    , m_group(group)
    , m_modelContext(modelContext)
    , m_model(new BookmarkListModel(group, this))
    , m_dropState(new DropState(this))
    , m_toolBar(new QToolBar(this))
    , m_titleLabel(new QLabel(this))
    , m_openAllAction(new QAction(
          Symbols::icon(QStringLiteral("arrow.up.right.square")), QStringLiteral("打开全部"), this))
    , m_addLinkAction(
          new QAction(Symbols::icon(QStringLiteral("link.badge.plus")), QStringLiteral("添加链接"), this))
    , m_stack(new QStackedWidget(this))
    , m_emptyState(makeEmptyState(this))
    , m_list(new BookmarkRowList(this))
    , m_rowView(nullptr)
    , m_animator(nullptr)
    , m_addLinkAlert(new TextFieldAlert(QStringLiteral("添加新链接"),
          QStringLiteral("例如: https://www.apple.com"), QStringLiteral("添加"), this))
    , m_openAllAlert(new OpenAllAlert(this))
{
    setObjectName(QStringLiteral("bookmarkListView"));
    setWindowTitle(group->name());

    // Toolbar: the pane title, then the actions at the trailing end.
    m_toolBar->setObjectName(QStringLiteral("bookmarkToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->setIconSize(QSize(18, 18));
    m_titleLabel->setObjectName(QStringLiteral("paneTitle"));
    // Names come from import files too: "<img src=...>" is a name, not markup.
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setText(group->name());
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_titleLabel->setFont(titleFont);
    m_titleLabel->setContentsMargins(8, 0, 8, 0);
    m_toolBar->addWidget(m_titleLabel);
    auto *spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_openAllAction->setObjectName(QStringLiteral("openAllAction"));
    m_openAllAction->setToolTip(QStringLiteral("一键打开该组所有链接"));
    m_openAllAction->setStatusTip(QStringLiteral("一键打开该组所有链接"));
    m_addLinkAction->setObjectName(QStringLiteral("addLinkAction"));
    m_toolBar->addAction(m_openAllAction);
    m_toolBar->addAction(m_addLinkAction);
    // Tool buttons take no focus by default; here they are part of the Tab order.
    for (QAction *action : { m_openAllAction, m_addLinkAction })
        m_toolBar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
    connect(m_openAllAction, &QAction::triggered, this, [this] { setShowOpenAllAlert(true); });
    connect(m_addLinkAction, &QAction::triggered, this, [this] { setShowAddLinkSheet(true); });
    connect(group, &BookmarkGroup::nameChanged, this, [this] {
        if (!m_group)
            return;
        m_titleLabel->setText(m_group->name());
        setWindowTitle(m_group->name());
    });

    // Rows.
    m_list->setModel(m_model);
    m_rowView = new BookmarkRowView(m_list, modelContext, m_list);
    m_animator
        = new RowMoveAnimator(m_list, m_model, [this](int row) { return quintptr(m_model->itemAt(row)); });
    m_rowView->setAnimator(m_animator);
    m_list->setItemDelegate(m_rowView);
    connect(m_list, &QListView::customContextMenuRequested, this, &BookmarkListView::showRowMenu);
    m_list->setAccessibleName(QStringLiteral("链接"));
    new BookmarkListKeys(this);
    connect(m_dropState, &DropState::changed, m_list->viewport(), qOverload<>(&QWidget::update));

    m_stack->addWidget(m_emptyState);
    m_stack->addWidget(m_list);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &BookmarkListView::updateContent);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &BookmarkListView::updateContent);
    connect(m_model, &QAbstractItemModel::modelReset, this, &BookmarkListView::updateContent);
    updateContent();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_stack, 1);

    // Add-link alert.
    m_addLinkAlert->setObjectName(QStringLiteral("addLinkAlert"));
    m_addLinkAlert->setValidator([](const QString &text) {
        // An empty field only waits; the button says so by being disabled.
        return text.isEmpty() ? QString() : AddressTexts::addressProblem(text);
    });
    connect(m_addLinkAlert, &TextFieldAlert::textChanged, this,
        [this](const QString &text) { m_newUrlString = text; });
    connect(m_addLinkAlert, &QDialog::accepted, this, [this] { addBookmark(); });
    connect(m_addLinkAlert, &QDialog::rejected, this, [this] { setNewUrlString(QString()); });
    connect(m_addLinkAlert, &QDialog::finished, this, [this] { m_showAddLinkSheet = false; });

    // Open-all confirmation.
    connect(m_openAllAlert, &OpenAllAlert::openConfirmed, this, [this] {
        m_showOpenAllAlert = false;
        openAllBookmarks();
    });
    connect(m_openAllAlert, &QDialog::finished, this, [this] { m_showOpenAllAlert = false; });
}

QList<QWidget *> BookmarkListView::tabOrder() const
{
    return { m_toolBar->widgetForAction(m_openAllAction), m_toolBar->widgetForAction(m_addLinkAction),
        m_list };
}

QMessageBox *BookmarkListView::openAllAlert() const
{
    return m_openAllAlert;
}

BookmarkListView::~BookmarkListView()
{
    // Sheets are children of the pane; close them without calling back into a half-gone view.
    if (m_editLinkView)
        m_editLinkView->disconnect(this);
}

QWidget *BookmarkListView::currentContent() const
{
    return m_stack->currentWidget();
}

void BookmarkListView::updateContent()
{
    const bool hasLinks = m_model->rowCount() > 0;
    m_openAllAction->setVisible(hasLinks);
    m_stack->setCurrentWidget(hasLinks ? static_cast<QWidget *>(m_list) : m_emptyState);
}

bool BookmarkListView::usable(const BookmarkItem *bookmark)
{
    return bookmark && !bookmark->isDeleted();
}

void BookmarkListView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each time the pane is shown, not when the window comes back from being minimised.
    if (!event->spontaneous())
        normalizeBookmarkSortOrders();
}

// --- View state --------------------------------------------------------------------------------

void BookmarkListView::setShowAddLinkSheet(bool show)
{
    if (show == m_showAddLinkSheet)
        return;
    m_showAddLinkSheet = show;
    if (show) {
        m_addLinkAlert->setText(m_newUrlString);
        m_addLinkAlert->present();
    } else {
        m_addLinkAlert->hide();
    }
}

void BookmarkListView::setNewUrlString(const QString &text)
{
    m_newUrlString = text;
    if (m_addLinkAlert->text() != text)
        m_addLinkAlert->setText(text);
}

void BookmarkListView::setEditingBookmark(BookmarkItem *bookmark)
{
    if (bookmark && !usable(bookmark))
        bookmark = nullptr;
    if (bookmark == m_editingBookmark && (bookmark != nullptr) == (m_editLinkView != nullptr))
        return;
    m_editingBookmark = bookmark;
    if (m_editLinkView) {
        EditLinkView *previous = m_editLinkView;
        m_editLinkView = nullptr;
        previous->disconnect(this);
        previous->hide();
        previous->deleteLater();
    }
    if (!bookmark)
        return;
    auto *sheet = new EditLinkView(bookmark, this);
    m_editLinkView = sheet;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (m_editLinkView != sheet)
            return;
        m_editLinkView = nullptr;
        m_editingBookmark = nullptr;
        sheet->deleteLater();
    });
    sheet->present();
}

void BookmarkListView::setShowOpenAllAlert(bool show)
{
    if (show == m_showOpenAllAlert)
        return;
    m_showOpenAllAlert = show;
    if (show) {
        m_openAllAlert->setCount(m_group ? m_group->bookmarks().size() : 0);
        m_openAllAlert->open();
    } else {
        m_openAllAlert->hide();
    }
}

QString BookmarkListView::openAllMessage() const
{
    return OpenAllAlert::message(m_group ? m_group->bookmarks().size() : 0);
}

// --- Commands ----------------------------------------------------------------------------------

void BookmarkListView::openBookmark(BookmarkItem *bookmark, bool sendSignal)
{
    if (!usable(bookmark))
        return;
    if (!LinkOpener::openLink(bookmark->urlString())) {
        Alerts::cannotOpen(this, { bookmark->urlString() });
        return;
    }
    if (sendSignal)
        AppSignals::send(QStringLiteral("link_opened"));
}

void BookmarkListView::openAllBookmarks()
{
    if (!m_group)
        return;
    // The order the user sees.
    const QList<BookmarkItem *> links = BookmarkListModel::ordered(m_group);
    QStringList refused;
    for (const BookmarkItem *link : links) {
        if (!LinkOpener::openLink(link->urlString()))
            refused << link->urlString();
    }
    Alerts::cannotOpen(this, refused);
}

void BookmarkListView::copyBookmarkLink(BookmarkItem *bookmark)
{
    if (!usable(bookmark))
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(bookmark->urlString());
}

void BookmarkListView::moveBookmarkUp(BookmarkItem *bookmark)
{
    moveBookmark(bookmark, Reordering::Direction::Up);
}

void BookmarkListView::moveBookmarkDown(BookmarkItem *bookmark)
{
    moveBookmark(bookmark, Reordering::Direction::Down);
}

void BookmarkListView::moveBookmark(BookmarkItem *bookmark, Reordering::Direction direction)
{
    if (!usable(bookmark) || !m_group)
        return;
    // The animator slides the rows to their new places once the list re-sorts.
    Reordering::moveOneStep(BookmarkListModel::ordered(m_group), bookmark, direction);
}

void BookmarkListView::deleteBookmark(BookmarkItem *bookmark)
{
    if (!usable(bookmark) || !m_modelContext)
        return;
    if (m_editingBookmark == bookmark)
        setEditingBookmark(nullptr);
    DeletionUndo::of(m_modelContext)->deleteLink(bookmark);
    AppSignals::send(QStringLiteral("link_deleted"));
}

void BookmarkListView::normalizeBookmarkSortOrders()
{
    if (!m_group)
        return;
    QList<BookmarkItem *> links = m_group->bookmarks();
    if (links.isEmpty())
        return;
    for (const BookmarkItem *link : std::as_const(links)) {
        if (link->sortOrder() != 0)
            return;
    }
    std::stable_sort(links.begin(), links.end(),
        [](const BookmarkItem *a, const BookmarkItem *b) { return a->createdAt() > b->createdAt(); });
    for (qsizetype i = 0; i < links.size(); ++i)
        links.at(i)->setSortOrder(i);
    // A failed save is not reported: automatic saving tries again with the next change.
    if (m_modelContext)
        m_modelContext->save();
}

QString BookmarkListView::normalizedAddress(const QString &text)
{
    return LinkAdder::normalizedAddress(text);
}

BookmarkItem *BookmarkListView::addBookmark()
{
    if (!m_newUrlString.isEmpty() && !AddressTexts::addressProblem(m_newUrlString).isEmpty()) {
        // Stored, it would wait for its page forever: the alert stays open with its reason.
        if (!m_showAddLinkSheet)
            setShowAddLinkSheet(true);
        return nullptr;
    }
    const QString typed = m_newUrlString;
    if (DuplicatePrompt::ask(this, m_modelContext, typed, [self = QPointer(this), typed] {
            if (self) {
                self->setNewUrlString(typed);
                self->addBookmark();
            }
        })) {
        setShowAddLinkSheet(false);
        return nullptr;
    }
    const LinkAdder::Outcome added = LinkAdder::addLink(m_modelContext, m_group, m_newUrlString);
    if (added.failure == LinkAdder::Failure::RefusedScheme) {
        // The alert stays open with its reason, so the text can be corrected.
        if (!m_showAddLinkSheet)
            setShowAddLinkSheet(true);
        return nullptr;
    }
    setShowAddLinkSheet(false);
    BookmarkItem *bookmark = added.link;
    if (!bookmark)
        return nullptr;
    setNewUrlString(QString());
    showAddedRow(bookmark);
    // Runs to its end on its own, even after this pane is gone.
    fetchMetadataForNewBookmark(bookmark, bookmark->urlString());
    return bookmark;
}

void BookmarkListView::showAddedRow(BookmarkItem *bookmark)
{
    // In a long group the new row is far below: bring it into view and onto the keyboard's
    // place, so its placeholder and then its title are seen arriving.
    m_model->sortNow();
    const int row = m_model->rowOf(bookmark);
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row);
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index, QAbstractItemView::EnsureVisible);
    m_list->setFocus(Qt::OtherFocusReason);
}

QCoro::Task<> BookmarkListView::fetchMetadataForNewBookmark(
    QPointer<BookmarkItem> bookmark, QString urlString)
{
    co_await LinkAdder::fillMetadata(std::move(bookmark), std::move(urlString));
}

// --- Menus -------------------------------------------------------------------------------------

ContextMenu *BookmarkListView::createBookmarkMenu(BookmarkItem *bookmark, QWidget *parent)
{
    auto *menu = new ContextMenu(parent);
    menu->setObjectName(QStringLiteral("bookmarkMenu"));
    const QPointer<BookmarkItem> target(bookmark);
    const QPointer<BookmarkListView> self(this);
    const auto act = [target, self](auto operation) {
        return [target, self, operation] {
            if (self && target && !target->isDeleted())
                operation(self.data(), target.data());
        };
    };
    connect(menu->addAction(QStringLiteral("打开链接")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->openBookmark(item, true); }));
    connect(menu->addAction(QStringLiteral("编辑链接")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->setEditingBookmark(item); }));
    connect(menu->addAction(QStringLiteral("复制链接")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->copyBookmarkLink(item); }));
    connect(menu->addAction(QStringLiteral("刷新信息")), &QAction::triggered, this,
        act([](BookmarkListView *, BookmarkItem *item) {
            DataExchange::queueLinks({ item }, DataExchange::RefreshMode::Overwrite);
        }));
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("上移")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->moveBookmarkUp(item); }));
    connect(menu->addAction(QStringLiteral("下移")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->moveBookmarkDown(item); }));
    // The same move as a drop on a group in the sidebar, without a mouse.
    QMenu *moveTo = menu->addMenu(QStringLiteral("移动到分组"));
    moveTo->setObjectName(QStringLiteral("moveToGroupMenu"));
    if (m_modelContext) {
        for (BookmarkGroup *other : GroupListModel::ordered(m_modelContext)) {
            if (other == bookmark->group())
                continue;
            QAction *action = moveTo->addAction(Symbols::icon(QStringLiteral("folder")),
                QString(other->name()).replace(QLatin1Char('&'), QStringLiteral("&&")));
            const QPointer<BookmarkGroup> destination(other);
            connect(action, &QAction::triggered, this, [self, target, destination] {
                if (self && target && destination)
                    LinkMover::moveToGroup(self->m_modelContext, target, destination);
            });
        }
    }
    moveTo->setEnabled(!moveTo->isEmpty());
    menu->addSeparator();
    connect(menu->addDestructiveAction(QStringLiteral("删除")), &QAction::triggered, this,
        act([](BookmarkListView *view, BookmarkItem *item) { view->deleteBookmark(item); }));
    return menu;
}

void BookmarkListView::showRowMenu(const QPoint &position)
{
    BookmarkItem *item = m_list->itemAt(position);
    if (!item)
        return;
    ContextMenu *menu = createBookmarkMenu(item, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

ShareMenu *BookmarkListView::createShareMenu(BookmarkItem *bookmark, QWidget *parent)
{
    if (!usable(bookmark) || !BookmarkRowView::hasShareButton(bookmark))
        return nullptr;
    return new ShareMenu(bookmark->urlString(), bookmark->title().value_or(QString()), parent);
}

void BookmarkListView::showShareMenu(BookmarkItem *bookmark, const QPoint &globalPosition)
{
    ShareMenu *menu = createShareMenu(bookmark, this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPosition);
}

// --- Drag and drop -----------------------------------------------------------------------------

QMimeData *BookmarkListView::beginDrag(BookmarkItem *bookmark)
{
    if (!usable(bookmark))
        return nullptr;
    m_dropState->setDraggedItem(bookmark);
    auto *data = new QMimeData;
    data->setText(bookmark->urlString());
    // Which link, for the groups in the sidebar; other programs see only the address.
    data->setData(linkMimeType, QByteArray::number(bookmark->id()));
    return data;
}

void BookmarkListView::endDrag()
{
    // A drag released outside the list must not leave a stale link behind: text dropped in
    // later from another program would otherwise move it.
    m_dropState->setDraggedItem(nullptr);
    m_dropState->setTargetItem(nullptr);
}
