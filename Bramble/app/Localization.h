#pragma once

#include <QFont>

class QCoreApplication;

// The interface speaks Simplified Chinese whatever the session's locale: its CJK text is
// drawn with the Simplified Chinese design of the font, and Qt's own texts (standard buttons,
// file dialogs) are Chinese too.
namespace Localization {

inline constexpr const char *chineseFontFamily = "Noto Sans CJK SC";

// The font's own families, then the Simplified Chinese one for the characters they lack
// (under a locale such as C.UTF-8 the desktop would otherwise pick the Japanese design).
QFont withChineseFallback(const QFont &font);
// Loads Qt's zh_CN translations; false when they are not installed.
bool loadQtTranslations(QCoreApplication *application);
// Both, for the running application; call once QApplication exists.
void apply();

} // namespace Localization
