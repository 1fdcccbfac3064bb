#pragma once

#include <QByteArray>
#include <QList>

// Page shapes that make an HTML parser or a regular expression work far more than the page's
// size suggests, each exactly the given size. Every one starts with the same title.
namespace HostilePages {
struct Page
{
    const char *name;
    QByteArray body;
};

inline const QByteArray title = QByteArrayLiteral("<title>Hostile</title>");

inline QByteArray repeated(
    const QByteArray &prefix, const QByteArray &unit, qsizetype size, const QByteArray &suffix = QByteArray())
{
    QByteArray page = prefix;
    page.reserve(size);
    while (page.size() + unit.size() + suffix.size() <= size)
        page.append(unit);
    page.append(QByteArray(size - page.size() - suffix.size(), ' '));
    page.append(suffix);
    return page;
}

inline QList<Page> all(qsizetype size)
{
    const qsizetype window = 256 * 1024;
    QByteArray tablesThenBody = repeated(title, "<table><tr><td>", window);
    tablesThenBody.append("<body>");
    tablesThenBody = repeated(tablesThenBody, "<p>text</p>", size);
    // Distinct names, so that each new one is compared with all before it.
    QByteArray attributes = title + "<meta";
    for (int i = 0; attributes.size() < size - 16; ++i)
        attributes.append(" a" + QByteArray::number(i));
    attributes = repeated(attributes, " ", size, ">");
    QByteArray icons = title;
    for (int i = 0; icons.size() < size - 64; ++i)
        icons.append(
            "<link rel=\"icon\" sizes=\"16x16 32x32\" href=\"/i" + QByteArray::number(i) + ".png\">");
    icons = repeated(icons, " ", size);

    return {
        { "table cells", repeated(title, "<table><tr><td>", size) },
        { "256 KB of tables, then <body>", tablesThenBody },
        { "nested <em>", repeated(title, "<em>", size) },
        { "nested <div>", repeated(title, "<div>", size) },
        { "mis-nested formatting", repeated(title, "<b><i><p></b></i>", size) },
        { "head only, no <body>", repeated("<html><head>" + title, "<meta name=\"m\" content=\"v\">", size) },
        { "one tag, many attributes", attributes },
        { "unclosed attribute quote", repeated(title + "<meta name=\"description\" content=\"", "x", size) },
        { "icon links, thousands", icons },
        { "nested <svg>", repeated(title, "<svg>", size) },
        { "nested <template>", repeated(title, "<template>", size) },
        { "unclosed comment", repeated(title + "<!--", "<div>", size) },
        { "title of the whole page", repeated("<title>Hostile ", "a", size) },
        { "'<' everywhere", repeated(title, "<", size) },
        { "description tags without end", repeated(title, "<meta name=\"description\" content=", size) },
        { "meta with long white space", repeated(title, "<meta" + QByteArray(4096, ' '), size) },
    };
}
} // namespace HostilePages
