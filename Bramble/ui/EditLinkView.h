#pragma once

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

// The sheet that edits a link's title, address and summary in place. Every keystroke is
// written into the link at once, so both buttons only close the sheet. An address with another
// scheme than http or https is not written: the sheet says why, and if the sheet is closed with
// such an address the link gets back the address it had when the sheet opened.
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
    void dismiss();
    void done(int result) override;

private:
    // False once the link is gone: the sheet closes instead of writing into it.
    bool alive() const;
    void refreshFields();

    QPointer<BookmarkItem> m_bookmark;
    QString m_openedUrl;
    QLineEdit *m_title;
    QLineEdit *m_url;
    QLabel *m_urlReason;
    QLineEdit *m_summary;
    QPushButton *m_cancel;
    QPushButton *m_done;
};
