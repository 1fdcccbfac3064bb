#pragma once

#include <QByteArrayView>
#include <limits>

// How deep the elements of an HTML text will nest once an HTML5 parser has built its tree, and
// how much walking of open elements building it takes, estimated in one pass over the tags
// without building anything. Both err on the high side. They guard the parser: each scope
// check of HTML5 tree building walks the open elements, so deep markup (100,000 unclosed
// <div>s) or many tags below a few hundred open ones take minutes to parse.
class HtmlNestingEstimate
{
public:
    struct Result
    {
        int depth = 0;
        // Open elements looked at, summed over the tags and text of the input.
        qint64 work = 0;
    };

    // Counting stops as soon as the depth passes maxDepth or the work passes maxWork.
    static Result measure(
        QByteArrayView html, int maxDepth, qint64 maxWork = std::numeric_limits<qint64>::max());
    static int depth(QByteArrayView html, int stopAbove) { return measure(html, stopAbove).depth; }
};
