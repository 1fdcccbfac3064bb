#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// The records of the export file. Icons and sort positions are deliberately not part of it.

struct ExportItem
{
    QString urlString;
    std::optional<QString> title;
    std::optional<QString> summary;
    QDateTime createdAt;
    // Carried in memory only, for the formats that hold icons (a browser's bookmark HTML); the
    // JSON file never reads or writes it.
    std::optional<QByteArray> iconData = std::nullopt;

    bool operator==(const ExportItem &) const = default;
};

struct ExportGroup
{
    QString name;
    QDateTime createdAt;
    QList<ExportItem> bookmarks;

    bool operator==(const ExportGroup &) const = default;
};

struct ExportData
{
    QList<ExportGroup> groups;
    // Whole seconds, so that a record survives a round trip through the file unchanged.
    QDateTime exportedAt = currentTime();

    bool operator==(const ExportData &) const = default;

    int linkCount() const;

    // Pretty-printed UTF-8 JSON, members in a fixed order, absent texts left out.
    QByteArray toJson() const;
    // Strict about structure, lenient about extra members, member order and null texts.
    // On failure returns nothing and sets error to a message naming the member and the
    // group / link (counted from 1) where the problem is.
    static std::optional<ExportData> fromJson(const QByteArray &json, QString *error);

    static QDateTime currentTime();
    // "2025-03-01T09:30:00Z"; fractions of a second are dropped.
    static QString formatDate(const QDateTime &date);
    // Accepts whole-second internet date-times ending in "Z" or a numeric offset.
    // Sets error to why the text is not accepted.
    static std::optional<QDateTime> parseDate(const QString &text, QString *error = nullptr);
};
