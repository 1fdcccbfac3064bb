#include "RelativeDateFormatter.h"

namespace {
QString phrase(qint64 count, const char *unit, bool past)
{
    const QString amount = QStringLiteral("%1 %2%3")
                               .arg(count)
                               .arg(QLatin1String(unit))
                               .arg(count == 1 ? QString() : QStringLiteral("s"));
    return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
}

// Whole calendar months from earlier to later, not counting a month not yet complete.
qint64 wholeMonths(const QDateTime &earlier, const QDateTime &later)
{
    const QDate from = earlier.date();
    const QDate to = later.date();
    qint64 months = qint64(to.year() - from.year()) * 12 + (to.month() - from.month());
    if (months > 0 && earlier.addMonths(int(months)) > later)
        --months;
    return months;
}
} // namespace

QString formatRelativeDate(const QDateTime &date, const QDateTime &now)
{
    const qint64 seconds = date.secsTo(now);
    const bool past = seconds >= 0;
    const qint64 span = past ? seconds : -seconds;
    if (span < 1)
        return QStringLiteral("now");
    if (span < 60)
        return phrase(span, "second", past);
    if (span < 3600)
        return phrase(span / 60, "minute", past);
    if (span < 86400)
        return phrase(span / 3600, "hour", past);
    if (span < 7 * 86400)
        return phrase(span / 86400, "day", past);
    const QDateTime earlier = past ? date.toUTC() : now.toUTC();
    const QDateTime later = past ? now.toUTC() : date.toUTC();
    const qint64 months = wholeMonths(earlier, later);
    if (months < 1)
        return phrase(span / (7 * 86400), "week", past);
    if (months < 12)
        return phrase(months, "month", past);
    return phrase(months / 12, "year", past);
}
