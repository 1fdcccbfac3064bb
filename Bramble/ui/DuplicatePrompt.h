#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

class BookmarkItem;
class ModelContext;
class QLabel;
class QMessageBox;
class QPushButton;

// Telling the user that an address being added is in the library already, and where.
namespace DuplicatePrompt {

// When the typed address is in the library: opens a window-modal box saying where
// ("已在「工作」中") with "仍然添加", "显示已有链接" and "取消", and returns it; addAnyway runs
// on "仍然添加", inside a Bypass. Null when there is no such link, or inside a Bypass.
QMessageBox *ask(
    QWidget *parent, ModelContext *context, const QString &typed, std::function<void()> addAnyway);

// While one lives, ask() lets every address through: the user has said yes.
class Bypass
{
public:
    Bypass();
    ~Bypass();
    Bypass(const Bypass &) = delete;
    Bypass &operator=(const Bypass &) = delete;
};

// Shows the link in its group in the main window that from belongs to (or opened from).
void reveal(QWidget *from, BookmarkItem *item);

} // namespace DuplicatePrompt

// The edit sheet's line under the address: where else the address is, with "显示已有链接".
class DuplicateNotice : public QWidget
{
    Q_OBJECT

public:
    explicit DuplicateNotice(QWidget *parent = nullptr);

    // Looks for links other than link with the address typed for it; hidden when there are none.
    void check(BookmarkItem *link, const QString &urlString);
    QLabel *label() const { return m_label; }
    QPushButton *showButton() const { return m_show; }

Q_SIGNALS:
    // The existing link is about to be shown: the sheet closes.
    void revealing();

private:
    QLabel *m_label;
    QPushButton *m_show;
    QPointer<BookmarkItem> m_existing;
};
