// The head of a fetched page, as the link preview reads it: the bounded head markup first, then
// the title and icon candidates parsed from it. The first byte picks the HTTP header's charset,
// so the decoders of the legacy encodings are reached too.
#include "metadata/HeadMarkup.h"
#include "metadata/PageHead.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {
const char *const contentTypes[] = {
    "text/html",
    "text/html; charset=utf-8",
    "text/html; charset=windows-1252",
    "text/html; charset=shift_jis",
    "text/html; charset=gb18030",
    "text/html; charset=utf-16",
    "text/html; charset=nonsense",
    "",
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray contentType(contentTypes[data[0] % std::size(contentTypes)]);
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const HeadMarkup head = HeadMarkup::extract(body);
    if (head.markup.size() > HeadMarkup::maxMarkupBytes || head.scannedBytes > body.size())
        __builtin_trap();

    const PageHead page
        = PageHead::parse(body, contentType, QUrl(QStringLiteral("https://example.org/a/b.html")));
    // Decoding a legacy encoding to UTF-8 at most triples the capped markup.
    if (page.cost.parserBytes > 3 * HeadMarkup::maxMarkupBytes)
        __builtin_trap();
    for (const PageHead::Icon &icon : page.icons)
        if (!icon.url.isValid())
            __builtin_trap();
    return 0;
}
