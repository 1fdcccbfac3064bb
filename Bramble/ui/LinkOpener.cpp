#include "ui/LinkOpener.h"

#include <QDesktopServices>

namespace {
LinkOpener::Opener &currentOpener()
{
    static LinkOpener::Opener opener;
    return opener;
}
} // namespace

void LinkOpener::setOpener(Opener opener)
{
    currentOpener() = std::move(opener);
}

std::optional<QUrl> LinkOpener::parse(const QString &urlString)
{
    if (urlString.isEmpty())
        return std::nullopt;
    const QUrl url(urlString, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> LinkOpener::webAddress(const QString &urlString)
{
    const std::optional<QUrl> url = parse(urlString);
    if (!url)
        return std::nullopt;
    const QString scheme = url->scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url->host().isEmpty())
        return std::nullopt;
    return url;
}

bool LinkOpener::openLink(const QString &urlString)
{
    const std::optional<QUrl> url = webAddress(urlString);
    if (!url)
        return false;
    openUrl(*url);
    return true;
}

void LinkOpener::openUrl(const QUrl &url)
{
    if (currentOpener())
        currentOpener()(url);
    else
        QDesktopServices::openUrl(url);
}
