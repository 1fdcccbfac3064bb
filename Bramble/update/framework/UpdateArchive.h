#pragma once

#include <QString>

namespace UpdateArchive {
struct Result
{
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Unpacks a .tar.gz into destination, which must not exist yet or be empty. With a
// topFolder, every entry must lie in that one folder and links must stay inside it;
// without, inside destination. Refuses absolute and ".." names, entries written through
// a link, links whose target (resolved through the links already unpacked) leaves the
// folder, hard links and anything but folders, files and links.
// Blocking: run it on a worker thread.
Result extract(const QString &archivePath, const QString &destination, const QString &topFolder = {});
} // namespace UpdateArchive
