#pragma once

#include <QString>

namespace Cairn {

// SHA-256 of the text followed by the salt, as UTF-8, written as 64 lower-case hex digits.
QString sha256Hex(const QString &text, const QString &salt = QString());

} // namespace Cairn
