#include "app/Localization.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QFont Localization::withChineseFallback(const QFont &font)
{
    QFont result = font;
    QStringList families = font.families();
    if (families.isEmpty())
        families << font.family();
    const QString chinese = QLatin1String(chineseFontFamily);
    families.removeAll(chinese);
    families << chinese;
    result.setFamilies(families);
    return result;
}

bool Localization::loadQtTranslations(QCoreApplication *application)
{
    auto *translator = new QTranslator(application);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
            QStringLiteral("_"), folder)) {
        delete translator;
        return false;
    }
    application->installTranslator(translator);
    return true;
}

void Localization::apply()
{
    QApplication::setFont(withChineseFallback(QApplication::font()));
    loadQtTranslations(QCoreApplication::instance());
}
