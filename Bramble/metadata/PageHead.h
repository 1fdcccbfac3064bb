#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// What the head of a page says about itself.
struct PageHead
{
    std::optional<QString> title;
    struct Icon
    {
        QUrl url; // resolved
        int size = 0; // largest declared edge; SVG and "any" count as very large
    };
    // Candidates, best first.
    QList<Icon> icons;

    // What reading the head took.
    struct Cost
    {
        qsizetype parserBytes = 0; // handed to the HTML parser
        qsizetype parserPeakMemory = 0; // the most the parser held at once
        int treeDepth = 0;
        bool onMainThread = false;
    };
    Cost cost;

    // Reads a page's head from its bytes as they arrived, with no network and no event loop.
    // Bounded for any input: only the head elements are parsed (see HeadMarkup), so time and
    // memory grow with the size of the head, which is capped. The bytes are decoded by the
    // byte-order mark, then the HTTP header's charset, then <meta charset> or http-equiv, else
    // as UTF-8. Relative icon addresses resolve against baseUrl (or the page's own <base href>).
    static PageHead parse(QByteArrayView body, const QByteArray &contentType, const QUrl &baseUrl);
};
