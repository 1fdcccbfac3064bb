#pragma once

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/LinkAdder.h"
#include "model/ModelContext.h"
#include "model/Reordering.h"
#include "ui/BookmarkRowList.h"
#include "ui/EditLinkView.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QWidget>

class BookmarkListModel;
class BookmarkRowView;
class ContextMenu;
class DropState;
class QAction;
class QLabel;
class OpenAllAlert;
class QMessageBox;
class QMimeData;
class QStackedWidget;
class QToolBar;
class RowMoveAnimator;
class ShareMenu;
class TextFieldAlert;

// The detail pane of the main window: the links of one group in their manual order, with
// opening, copying, moving, deleting, adding and editing, and reordering by drag and drop.
class BookmarkListView : public QWidget
{
    Q_OBJECT

public:
    static inline const QString placeholderSummary = LinkAdder::placeholderSummary;
    // The dragged link's identifier, beside its address as plain text.
    static inline const QString linkMimeType = QStringLiteral("application/x-bramble-link");

    BookmarkListView(BookmarkGroup *group, ModelContext *modelContext, QWidget *parent = nullptr);
    ~BookmarkListView() override;

    BookmarkGroup *group() const { return m_group; }
    ModelContext *modelContext() const { return m_modelContext; }
    BookmarkListModel *model() const { return m_model; }
    BookmarkRowList *listView() const { return m_list; }
    BookmarkRowView *rowView() const { return m_rowView; }
    DropState *dropState() const { return m_dropState; }
    QToolBar *toolBar() const { return m_toolBar; }
    QAction *openAllAction() const { return m_openAllAction; }
    QAction *addLinkAction() const { return m_addLinkAction; }
    QWidget *emptyStateView() const { return m_emptyState; }
    // Where Tab goes in the pane: the toolbar's buttons, then the list.
    QList<QWidget *> tabOrder() const;
    // The list while the group has links, the empty-state panel otherwise.
    QWidget *currentContent() const;
    TextFieldAlert *addLinkAlert() const { return m_addLinkAlert; }
    QMessageBox *openAllAlert() const;
    // The open edit sheet, if any.
    EditLinkView *editLinkView() const { return m_editLinkView; }

    bool showAddLinkSheet() const { return m_showAddLinkSheet; }
    void setShowAddLinkSheet(bool show);
    QString newUrlString() const { return m_newUrlString; }
    void setNewUrlString(const QString &text);
    BookmarkItem *editingBookmark() const { return m_editingBookmark; }
    void setEditingBookmark(BookmarkItem *bookmark);
    bool showOpenAllAlert() const { return m_showOpenAllAlert; }
    void setShowOpenAllAlert(bool show);
    // "这将同时打开 N 个网页链接。"
    QString openAllMessage() const;

    // Opens a web address only (http, https); for anything else an alert says why not.
    void openBookmark(BookmarkItem *bookmark, bool sendSignal);
    // Every link in the order the list shows them; one alert names those that are not web
    // addresses.
    void openAllBookmarks();
    void copyBookmarkLink(BookmarkItem *bookmark);
    void moveBookmarkUp(BookmarkItem *bookmark);
    void moveBookmarkDown(BookmarkItem *bookmark);
    void deleteBookmark(BookmarkItem *bookmark);
    // Numbers the links 0, 1, 2, … newest first, but only while every position is 0.
    void normalizeBookmarkSortOrders();
    // Stores the address typed into the add-link alert, scrolls to its row and makes it the
    // current one, and starts fetching its metadata. Returns the new link, or null when the
    // field was empty or is no web address (then the alert stays open and says why).
    BookmarkItem *addBookmark();

    // "https://" in front of any text without a scheme.
    static QString normalizedAddress(const QString &text);
    // Writes the page's title, summary and icon into the link once they arrive; skips the
    // writes when the link was deleted meanwhile. Runs on its own after the list is gone.
    static QCoro::Task<> fetchMetadataForNewBookmark(QPointer<BookmarkItem> bookmark, QString urlString);

    // The row menu (打开链接, 编辑链接, 复制链接, 刷新信息, 上移, 下移, 移动到分组 with the other
    // groups, 删除); the caller owns it.
    ContextMenu *createBookmarkMenu(BookmarkItem *bookmark, QWidget *parent);
    ShareMenu *createShareMenu(BookmarkItem *bookmark, QWidget *parent);

    // Starts a drag of this link: remembers it and gives the data a drop target receives
    // (the address as plain text).
    QMimeData *beginDrag(BookmarkItem *bookmark);
    // The drag is over, dropped or not.
    void endDrag();

protected:
    void showEvent(QShowEvent *event) override;

private:
    friend class BookmarkRowList;
    void moveBookmark(BookmarkItem *bookmark, Reordering::Direction direction);
    void updateContent();
    void showAddedRow(BookmarkItem *bookmark);
    void showRowMenu(const QPoint &position);
    void showShareMenu(BookmarkItem *bookmark, const QPoint &globalPosition);
    static bool usable(const BookmarkItem *bookmark);

    QPointer<BookmarkGroup> m_group;
    QPointer<ModelContext> m_modelContext;
    BookmarkListModel *m_model;
    DropState *m_dropState;
    QToolBar *m_toolBar;
    QLabel *m_titleLabel;
    QAction *m_openAllAction;
    QAction *m_addLinkAction;
    QStackedWidget *m_stack;
    QWidget *m_emptyState;
    BookmarkRowList *m_list;
    BookmarkRowView *m_rowView;
    RowMoveAnimator *m_animator;
    TextFieldAlert *m_addLinkAlert;
    OpenAllAlert *m_openAllAlert;
    QPointer<EditLinkView> m_editLinkView;

    bool m_showAddLinkSheet = false;
    QString m_newUrlString;
    QPointer<BookmarkItem> m_editingBookmark;
    bool m_showOpenAllAlert = false;
};
