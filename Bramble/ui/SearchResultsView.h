#pragma once

#include <QPointer>
#include <QWidget>

class BookmarkItem;
class BookmarkListView;
class ContextMenu;
class ModelContext;
class QLabel;
class QListView;
class QStackedWidget;
class SearchResultsModel;

// What the detail column shows while the search field holds text: the matching links of every
// group, best first, each row with its group's name and the found words marked. Rows open,
// and answer the same context menu as in their group's list, plus "在分组中显示".
class SearchResultsView : public QWidget
{
    Q_OBJECT

public:
    explicit SearchResultsView(ModelContext *context, QWidget *parent = nullptr);
    ~SearchResultsView() override;

    SearchResultsModel *model() const { return m_model; }
    QListView *listView() const { return m_list; }
    // "没有找到「…」", shown when a query found nothing.
    QLabel *emptyLabel() const { return m_empty; }
    static QString emptyText(const QString &query);

    void setQuery(const QString &text);
    BookmarkItem *currentItem() const;
    // Moves the current row up (-1) or down (+1); the first step picks the first row.
    void step(int step);
    // Opens the current row's link, as a double click does.
    void openCurrent();
    void openItem(BookmarkItem *item);

    // The row menu of the link's group list with "在分组中显示" at its end; the caller owns it.
    ContextMenu *createMenu(BookmarkItem *item, QWidget *parent);

Q_SIGNALS:
    void showInGroupRequested(BookmarkItem *item);

private:
    void updateContent();
    void showMenu(const QPoint &position);
    // A list of the link's group, never shown, that carries out the row commands.
    BookmarkListView *commandsFor(BookmarkItem *item);

    ModelContext *m_context;
    SearchResultsModel *m_model;
    QStackedWidget *m_stack;
    QListView *m_list;
    QLabel *m_empty;
    QPointer<BookmarkListView> m_commands;
};
