#include "VersionComparator.h"

#include <QList>
#include <algorithm>
#include <limits>

namespace {
struct Part
{
    bool numeric = true;
    qulonglong number = 0;
    QString text;
};

QList<Part> split(const QString &version)
{
    QList<Part> parts;
    int i = 0;
    const int n = int(version.size());
    while (i < n) {
        const QChar c = version.at(i);
        if (c.isDigit()) {
            int j = i;
            while (j < n && version.at(j).isDigit())
                ++j;
            Part part;
            // Absurdly long numbers saturate instead of wrapping.
            bool ok = false;
            part.number = version.mid(i, j - i).toULongLong(&ok);
            if (!ok)
                part.number = std::numeric_limits<qulonglong>::max();
            parts.append(part);
            i = j;
        } else if (c.isLetter()) {
            int j = i;
            while (j < n && version.at(j).isLetter())
                ++j;
            Part part;
            part.numeric = false;
            part.text = version.mid(i, j - i).toLower();
            parts.append(part);
            i = j;
        } else {
            ++i; // separators
        }
    }
    return parts;
}
} // namespace

int compareVersions(const QString &left, const QString &right)
{
    const QList<Part> a = split(left);
    const QList<Part> b = split(right);
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part &x = a.at(i);
        const Part &y = b.at(i);
        if (x.numeric && y.numeric) {
            if (x.number != y.number)
                return x.number < y.number ? -1 : 1;
        } else if (x.numeric != y.numeric) {
            // 1.0.1 is newer than 1.0b1
            return x.numeric ? 1 : -1;
        } else if (const int c = x.text.compare(y.text); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    // The longer version decides by its next part: a number makes it newer (1.5.1 > 1.5),
    // a pre-release tag older (1.5b1 < 1.5); trailing zeros are equal (1.5.0 == 1.5).
    const auto rest = [&](const QList<Part> &longer) {
        for (qsizetype i = common; i < longer.size(); ++i) {
            const Part &p = longer.at(i);
            if (!p.numeric)
                return -1;
            if (p.number != 0)
                return 1;
        }
        return 0;
    };
    if (a.size() > b.size())
        return rest(a);
    if (b.size() > a.size())
        return -rest(b);
    return 0;
}
