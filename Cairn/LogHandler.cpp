#include "Cairn/LogHandler.h"

#include <cstdio>

namespace Cairn {

QString logLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::debug:
        return QStringLiteral("DEBUG");
    case LogLevel::info:
        return QStringLiteral("INFO");
    case LogLevel::error:
        return QStringLiteral("ERROR");
    }
    return QStringLiteral("INFO");
}

namespace {
    void writeLine(FILE *stream, LogLevel level, const QString &message)
    {
        const QByteArray line
            = (QStringLiteral("[Cairn: ") + logLevelName(level) + QStringLiteral("] ") + message).toUtf8()
            + '\n';
        // One fwrite per line keeps lines from different threads whole.
        std::fwrite(line.constData(), 1, size_t(line.size()), stream);
        std::fflush(stream);
    }
} // namespace

LogHandler LogHandler::standardError(LogLevel level)
{
    return LogHandler { level, [](LogLevel l, const QString &m) { writeLine(stderr, l, m); } };
}

LogHandler LogHandler::print(LogLevel level)
{
    return LogHandler { level, [](LogLevel l, const QString &m) { writeLine(stdout, l, m); } };
}

} // namespace Cairn
