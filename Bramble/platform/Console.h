#pragma once

#include <QString>

// The program's diagnostic lines: one line each on standard output, flushed at once so that
// they interleave correctly with other output.
namespace Console {
void printLine(const QString &line);
} // namespace Console
