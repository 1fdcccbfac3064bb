#include "UpdateTransport.h"

bool isPermittedUpdateTransport(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    // QUrl writes IPv6 hosts in their shortest form, so [0:0::1] reads "::1" here. Names such
    // as "localhost" are refused: they resolve through whatever the system is configured with.
    const QString host = url.host();
    return scheme == QLatin1String("http")
        && (host == QLatin1String("127.0.0.1") || host == QLatin1String("::1"));
}
