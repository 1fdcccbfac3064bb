#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

// Our own drawings of the named system symbols ("folder", "globe", "link", ...), shipped as
// SVG in the resources. The drawings use the colour the caller asks for, so one file serves
// every tint.
namespace Symbols {
// Every symbol name we ship, sorted.
QStringList names();
bool contains(const QString &name);

// Drawn in the palette's text colour of the mode it is painted in (follows the palette).
// An unknown name gives a null icon.
QIcon icon(const QString &name);
// Drawn in one fixed colour; the disabled mode fades it.
QIcon icon(const QString &name, const QColor &color);

QPixmap pixmap(const QString &name, const QSize &size, const QColor &color, qreal devicePixelRatio = 1.0);

// The application's own icon: "bramble" from the icon theme, else the one in the resources.
QIcon applicationIcon();
// The tray's: the coloured application picture, named "bramble-symbolic" when the icon theme
// has that icon, so hosts that recolour icons by name can do so.
QIcon trayIcon();
} // namespace Symbols
