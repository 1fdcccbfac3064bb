#pragma once

#include <QString>

// Byte counts for people, in decimal units: "Zero KB", "512 bytes", "3 KB", "1.5 MB", "1.23 GB".
QString formatByteCount(qint64 bytes);
