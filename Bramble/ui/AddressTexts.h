#pragma once

#include <QString>

// What the window says about addresses it will not keep or cannot open, in one voice.
namespace AddressTexts {

// Why text with this scheme ("ftp") is not kept as a link.
QString refusedScheme(const QString &scheme);
// Why typed text is not kept as a link (another scheme, or no web address even with
// "https://" in front); empty when it is.
QString addressProblem(const QString &text);
// Why the stored address cannot be opened; empty when it can.
QString cannotOpen(const QString &urlString);

} // namespace AddressTexts
