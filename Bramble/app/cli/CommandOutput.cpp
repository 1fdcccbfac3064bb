#include "app/cli/CommandOutput.h"

#include <cstdio>
#include <unistd.h>

namespace {
FILE *g_results = stdout;

bool write(FILE *file, const QByteArray &bytes)
{
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
    return std::fflush(file) == 0 && written == size_t(bytes.size()) && !std::ferror(file);
}
} // namespace

void CommandOutput::separateResults()
{
    std::fflush(stdout);
    const int resultsFd = ::dup(STDOUT_FILENO);
    if (resultsFd < 0)
        return;
    FILE *results = ::fdopen(resultsFd, "w");
    if (!results) {
        ::close(resultsFd);
        return;
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    g_results = results;
}

void CommandOutput::result(const QString &line)
{
    write(g_results, line.toUtf8() + '\n');
}

bool CommandOutput::resultBytes(const QByteArray &bytes)
{
    return write(g_results, bytes);
}

void CommandOutput::complain(const QString &line)
{
    write(stderr, line.toUtf8() + '\n');
}
