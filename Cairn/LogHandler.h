#pragma once

#include <QString>
#include <functional>

namespace Cairn {

enum class LogLevel { debug = 0, info = 1, error = 2 };

// Receives the client's diagnostic lines. A message at level L reaches `handler` only when
// L >= logLevel.
struct LogHandler
{
    LogLevel logLevel = LogLevel::info;
    std::function<void(LogLevel, const QString &)> handler;

    bool isEnabled(LogLevel level) const
    {
        return handler && static_cast<int>(level) >= static_cast<int>(logLevel);
    }
    void log(LogLevel level, const QString &message) const
    {
        if (isEnabled(level))
            handler(level, message);
    }

    // The platform sink of this system: one line per message on standard error,
    // "[Cairn: INFO] message".
    static LogHandler standardError(LogLevel level = LogLevel::info);
    // The print sink: the same line on standard output.
    static LogHandler print(LogLevel level = LogLevel::info);
};

QString logLevelName(LogLevel level);

} // namespace Cairn
