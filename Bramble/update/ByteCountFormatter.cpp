#include "ByteCountFormatter.h"

#include <QLocale>
#include <cmath>

QString formatByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    const double magnitude = std::abs(double(bytes));
    if (magnitude < 1000)
        return sign
            + (magnitude == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(qint64(magnitude)));
    static const char *units[] = { "KB", "MB", "GB", "TB", "PB", "EB" };
    double value = magnitude / 1000.0;
    int unit = 0;
    // Round first, so that 999.96 KB shows as "1 MB" rather than "1,000 KB".
    const auto decimalsFor = [](int u) { return u == 0 ? 0 : (u == 1 ? 1 : 2); };
    while (unit < 5) {
        const double factor = std::pow(10.0, decimalsFor(unit));
        if (std::round(value * factor) / factor < 1000.0)
            break;
        value /= 1000.0;
        ++unit;
    }
    const double factor = std::pow(10.0, decimalsFor(unit));
    const double rounded = std::round(value * factor) / factor;
    QString number = QString::number(rounded, 'f', decimalsFor(unit));
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
    }
    return sign + number + QLatin1Char(' ') + QLatin1String(units[unit]);
}
