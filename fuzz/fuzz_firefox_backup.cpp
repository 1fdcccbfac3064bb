// The Firefox JSON backup reader on the JSON trees an import hands it.
#include "JsonTreeTarget.h"
#include "exchange/FirefoxBackupReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzJsonTreeReader(
        data, size, FirefoxBackupReader::looksLikeFirefoxBackup, FirefoxBackupReader::fromJson);
}
