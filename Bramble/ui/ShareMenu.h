#pragma once

#include <QMenu>
#include <QString>

// What a Linux desktop offers for sharing an address: copy it, send it by e-mail, open it in
// the browser (web addresses only).
class ShareMenu : public QMenu
{
    Q_OBJECT

public:
    ShareMenu(const QString &urlString, const QString &title, QWidget *parent = nullptr);

    QAction *copyAction() const { return m_copy; }
    QAction *mailAction() const { return m_mail; }
    // Null when the address is not a web address.
    QAction *browserAction() const { return m_browser; }

    // The mailto: address that carries the link in its body and the title as subject.
    static QUrl mailUrl(const QString &urlString, const QString &title);

private:
    QAction *m_copy;
    QAction *m_mail;
    QAction *m_browser = nullptr;
};
