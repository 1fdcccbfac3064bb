#include "ui/AddressTexts.h"

#include "model/LinkAdder.h"
#include "ui/LinkOpener.h"

QString AddressTexts::refusedScheme(const QString &scheme)
{
    return QStringLiteral("“%1:” 地址不能保存：Bramble 只保存 http 和 https 网址。").arg(scheme);
}

QString AddressTexts::cannotOpen(const QString &urlString)
{
    if (LinkOpener::webAddress(urlString))
        return QString();
    if (urlString.isEmpty())
        return QStringLiteral("这个链接没有网址。");
    const QString scheme = LinkAdder::schemeOf(urlString);
    if (!scheme.isEmpty() && scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("这是一个 “%1:” 地址，Bramble 只打开 http 和 https 网址。").arg(scheme);
    if (scheme.isEmpty())
        return QStringLiteral("网址缺少 “https://” 之类的开头，Bramble 无法打开它。");
    return QStringLiteral("网址无效，Bramble 无法打开它。");
}

QString AddressTexts::addressProblem(const QString &text)
{
    if (const std::optional<QString> scheme = LinkAdder::refusedScheme(text))
        return refusedScheme(*scheme);
    if (LinkAdder::becomesWebAddress(text))
        return QString();
    if (text.contains(QLatin1Char(' ')))
        return QStringLiteral("网址里不能有空格。");
    return QStringLiteral("这不是一个网址：需要像 example.com 这样的网站地址。");
}
