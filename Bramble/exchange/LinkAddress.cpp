#include "LinkAddress.h"

#include <QUrl>

namespace {

int defaultPort(const QString &scheme)
{
    if (scheme == QLatin1String("http"))
        return 80;
    if (scheme == QLatin1String("https"))
        return 443;
    if (scheme == QLatin1String("ftp"))
        return 21;
    return -1;
}

} // namespace

QString LinkAddress::normalized(const QString &urlString)
{
    const QString trimmed = urlString.trimmed();
    QUrl url(trimmed, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return trimmed;
    // QUrl already gives scheme and host in lower case.
    if (url.port() != -1 && url.port() == defaultPort(url.scheme()))
        url.setPort(-1);
    url.setFragment(QString());
    QString path = url.path(QUrl::FullyEncoded);
    if (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
        url.setPath(path, QUrl::TolerantMode);
    }
    return url.toString(QUrl::FullyEncoded);
}

bool LinkAddress::isWebAddress(const QString &urlString)
{
    const QUrl url(urlString.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}
