#pragma once

class QWidget;

// How the settings window behaves as a window of its own on this desktop.
namespace SettingsWindow {

// The smallest the window may become.
constexpr int minimumWidth = 320;
constexpr int minimumHeight = 330;

// Escape and Ctrl+W close it; when shown it grows until every tab fits without scrolling
// (never below the minimum) and is placed over the centre of anchor, when there is one.
void prepare(QWidget *settings, QWidget *anchor);

} // namespace SettingsWindow
