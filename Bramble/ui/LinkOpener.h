#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// Every command that opens a link goes through here. Only web addresses (http and https) are
// handed to the desktop: a link imported from somebody else's file must not be able to launch
// a local file or a program through the default handler.
namespace LinkOpener {
using Opener = std::function<void(const QUrl &url)>;

// Replaces the function that hands an address to the desktop (QDesktopServices::openUrl);
// an empty function restores it. Main thread only.
void setOpener(Opener opener);

// The text as an address, or nothing when it does not parse.
std::optional<QUrl> parse(const QString &urlString);
// The text as an http or https address with a host, or nothing.
std::optional<QUrl> webAddress(const QString &urlString);

// Opens the link when it is a web address; returns whether it was handed over. Anything
// else is skipped here; the caller tells the user why (Alerts::cannotOpen).
bool openLink(const QString &urlString);
// Hands an address the program built itself (mailto:) to the desktop, whatever its scheme.
void openUrl(const QUrl &url);
} // namespace LinkOpener
