#include "ui/ShareMenu.h"

#include "ui/LinkOpener.h"
#include "ui/Symbols.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QUrl>

ShareMenu::ShareMenu(const QString &urlString, const QString &title, QWidget *parent)
    : QMenu(parent)
{
    setObjectName(QStringLiteral("shareMenu"));
    m_copy = addAction(Symbols::icon(QStringLiteral("link")), QStringLiteral("复制链接"));
    connect(
        m_copy, &QAction::triggered, this, [urlString] { QGuiApplication::clipboard()->setText(urlString); });
    m_mail = addAction(QStringLiteral("通过邮件发送"));
    connect(m_mail, &QAction::triggered, this,
        [urlString, title] { LinkOpener::openUrl(mailUrl(urlString, title)); });
    if (LinkOpener::webAddress(urlString)) {
        m_browser = addAction(Symbols::icon(QStringLiteral("globe")), QStringLiteral("在浏览器中打开"));
        connect(m_browser, &QAction::triggered, this, [urlString] { LinkOpener::openLink(urlString); });
    }
}

QUrl ShareMenu::mailUrl(const QString &urlString, const QString &title)
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    // Encode everything ourselves so an address carrying '&' or '=' stays whole in the body.
    const auto encode
        = [](const QString &text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    QString query;
    if (!title.isEmpty())
        query = QStringLiteral("subject=") + encode(title) + QLatin1Char('&');
    query += QStringLiteral("body=") + encode(urlString);
    url.setQuery(query);
    return url;
}
