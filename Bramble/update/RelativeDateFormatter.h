#pragma once

#include <QDateTime>
#include <QString>

// A date relative to now in full words, in its largest whole unit: "2 hours ago",
// "1 minute ago", "in 3 days", "now".
QString formatRelativeDate(const QDateTime &date, const QDateTime &now = QDateTime::currentDateTimeUtc());
