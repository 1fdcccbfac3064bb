#pragma once

#include <QFile>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

// Small helpers shared by the benchmark programs: timing, memory and a printed table.
namespace Bench {

inline double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Resident memory of this process in MiB.
inline double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

class Table
{
public:
    void add(const QString &what, const QString &value, const QString &goal = QString())
    {
        m_rows.push_back({ what, value, goal });
    }
    void print() const
    {
        std::printf("| %-58s | %-14s | %-12s |\n", "measure", "value", "goal");
        std::printf("|%s|%s|%s|\n", QByteArray(60, '-').constData(), QByteArray(16, '-').constData(),
            QByteArray(14, '-').constData());
        for (const Row &row : m_rows)
            std::printf("| %-58s | %-14s | %-12s |\n", qPrintable(row.what), qPrintable(row.value),
                qPrintable(row.goal));
        std::fflush(stdout);
    }

private:
    struct Row
    {
        QString what, value, goal;
    };
    std::vector<Row> m_rows;
};

inline QString ms(double value)
{
    return QString::number(value, 'f', 2) + QStringLiteral(" ms");
}

} // namespace Bench
