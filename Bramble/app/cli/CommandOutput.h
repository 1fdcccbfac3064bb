#pragma once

#include <QByteArray>
#include <QString>

// Where the commands print. Results go to the real standard output; everything else the
// program prints (the diagnostic lines of fetches, saves and imports) goes to standard error,
// so that what a script reads is only the answer.
namespace CommandOutput {

// Points standard output at standard error and keeps the real one for results.
void separateResults();

void result(const QString &line);
// False when the bytes could not all be written (a full disk, a closed pipe).
bool resultBytes(const QByteArray &bytes);
void complain(const QString &line);

} // namespace CommandOutput
