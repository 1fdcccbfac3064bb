#pragma once

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

// The sheet that edits a link's title, address and summary. What is typed is written into the
// link by "完成" (or Return) only; "取消" and Escape leave the link as it was. An address that
// is no web address even with "https://" in front is refused: the sheet says why and stays
// open until it is corrected.
class EditLinkView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 400;
    static constexpr int sheetHeight = 250;

    explicit EditLinkView(BookmarkItem *bookmark, QWidget *parent = nullptr);

    BookmarkItem *bookmark() const { return m_bookmark; }
    QLineEdit *titleField() const { return m_title; }
    QLineEdit *urlField() const { return m_url; }
    QLineEdit *summaryField() const { return m_summary; }
    // Why the typed address is not kept; hidden while it is.
    QLabel *urlReasonLabel() const { return m_urlReason; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *doneButton() const { return m_done; }

    // Shows the sheet without blocking.
    void present();
    // Closes without writing anything.
    void dismiss();
    void done(int result) override;

private:
    enum Field { TitleField = 1, UrlField = 2, SummaryField = 4 };
    // False once the link is gone: the sheet closes instead of writing into it.
    bool alive() const;
    void refreshFields();
    void updateReason();
    // Writes the fields the user changed; false when the address is refused.
    bool commit();

    QPointer<BookmarkItem> m_bookmark;
    // The fields the user typed into; the others follow metadata arriving meanwhile.
    int m_edited = 0;
    QLineEdit *m_title;
    QLineEdit *m_url;
    QLabel *m_urlReason;
    QLineEdit *m_summary;
    QPushButton *m_cancel;
    QPushButton *m_done;
};
