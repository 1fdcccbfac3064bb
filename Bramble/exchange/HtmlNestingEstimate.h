#pragma once

#include <QByteArrayView>

// How deep the elements of an HTML text will nest once an HTML5 parser has built its tree,
// estimated in one pass over the tags without building anything. The estimate errs on the deep
// side. It guards the parser: each scope check of HTML5 tree building walks the open elements,
// so deeply nested markup (100,000 unclosed <div>s) would take minutes to parse.
class HtmlNestingEstimate
{
public:
    // Counting stops as soon as the depth passes stopAbove.
    static int depth(QByteArrayView html, int stopAbove);
};
