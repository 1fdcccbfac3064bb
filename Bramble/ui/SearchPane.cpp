#include "ui/SearchPane.h"

#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "ui/BookmarkListView.h"
#include "ui/SearchField.h"
#include "ui/SearchResultsView.h"

#include <QListView>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

SearchPane::SearchPane(ModelContext *context, QWidget *detail, QWidget *parent)
    : QWidget(parent)
    , m_field(new SearchField)
    , m_stack(new QStackedWidget)
    , m_detail(detail)
    , m_results(new SearchResultsView(context))
{
    setObjectName(QStringLiteral("searchPane"));
    m_stack->addWidget(detail);
    m_stack->addWidget(m_results);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *bar = new QWidget;
    auto *barLayout = new QVBoxLayout(bar);
    barLayout->setContentsMargins(10, 8, 10, 4);
    barLayout->addWidget(m_field);
    layout->addWidget(bar);
    layout->addWidget(m_stack, 1);

    for (const QKeySequence &keys :
        { QKeySequence(Qt::CTRL | Qt::Key_F), QKeySequence(Qt::CTRL | Qt::Key_K) }) {
        auto *shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &SearchPane::focusSearch);
    }
    connect(m_field, &QLineEdit::textChanged, this, &SearchPane::textChanged);
    connect(m_field, &SearchField::cleared, this, &SearchPane::clearSearch);
    connect(m_field, &SearchField::stepRequested, m_results, &SearchResultsView::step);
    connect(m_field, &SearchField::activateRequested, m_results, &SearchResultsView::openCurrent);
    connect(m_results, &SearchResultsView::showInGroupRequested, this, &SearchPane::reveal);
}

bool SearchPane::isSearching() const
{
    return m_stack->currentWidget() == m_results;
}

void SearchPane::focusSearch()
{
    window()->activateWindow();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void SearchPane::clearSearch()
{
    m_field->clear();
    m_results->setQuery(QString());
    m_stack->setCurrentWidget(m_detail);
}

void SearchPane::reveal(BookmarkItem *item)
{
    clearSearch();
    if (m_revealer && item && !item->isDeleted())
        m_revealer(item);
}

void SearchPane::textChanged(const QString &text)
{
    m_results->setQuery(text);
    m_stack->setCurrentWidget(text.trimmed().isEmpty() ? m_detail : static_cast<QWidget *>(m_results));
}

void SearchPane::selectInDetail(QWidget *detail, BookmarkItem *item)
{
    auto *list = qobject_cast<BookmarkListView *>(detail);
    if (!list || !item)
        return;
    const int row = list->model()->rowOf(item);
    if (row < 0)
        return;
    const QModelIndex index = list->model()->index(row);
    list->listView()->setCurrentIndex(index);
    list->listView()->scrollTo(index, QAbstractItemView::PositionAtCenter);
    list->listView()->setFocus(Qt::OtherFocusReason);
}
