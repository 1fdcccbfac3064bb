#pragma once

#include <QWidget>
#include <functional>

class BookmarkItem;
class ModelContext;
class QStackedWidget;
class SearchField;
class SearchResultsView;

// The detail column with the search field above it: the group's list while the field is empty,
// the search results while it holds text. Ctrl+F and Ctrl+K go to the field.
class SearchPane : public QWidget
{
    Q_OBJECT

public:
    // Shows a link in its own group: selects the group, then the link in its list.
    using Revealer = std::function<void(BookmarkItem *item)>;

    SearchPane(ModelContext *context, QWidget *detail, QWidget *parent = nullptr);

    SearchField *field() const { return m_field; }
    SearchResultsView *results() const { return m_results; }
    bool isSearching() const;
    void setRevealer(Revealer revealer) { m_revealer = std::move(revealer); }

    // Puts the keyboard in the field with its text selected, as the shortcuts do.
    void focusSearch();
    // Empties the field; the group's list comes back.
    void clearSearch();
    // Empties the field and shows the link in its own group.
    void reveal(BookmarkItem *item);
    // Selects the link in the list its group's detail shows, if it is one.
    static void selectInDetail(QWidget *detail, BookmarkItem *item);

private:
    void textChanged(const QString &text);

    SearchField *m_field;
    QStackedWidget *m_stack;
    QWidget *m_detail;
    SearchResultsView *m_results;
    Revealer m_revealer;
};
