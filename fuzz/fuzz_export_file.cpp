// The export file as an import reads it.
#include "exchange/JSONDocument.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const auto document = JSONDocument::fromContents(contents, &error);
    if (!document) {
        if (error.isEmpty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    // What was read is written and read back as the same records.
    QString again;
    const auto reread = JSONDocument::fromContents(document->contents(), &again);
    if (!reread || !(reread->data == document->data))
        __builtin_trap();
    return 0;
}
