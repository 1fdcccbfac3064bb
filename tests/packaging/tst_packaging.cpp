// The installed desktop files and the running program must name each other alike: the
// desktop finds the window's entry by its class and the entry's file name, and shows the
// icon the entry names.

#include "app/BrambleApp.h"
#include "platform/LoginItem.h"
#include "support/TestEnvironment.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString sourcePath(const QString &relative)
{
    return QStringLiteral(BRAMBLE_SOURCE_DIR "/") + relative;
}

// The keys of a desktop entry's [Desktop Entry] group, read as plain text (QSettings would
// take ';' lists and the locale suffixes apart).
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inEntry && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

// A hicolor theme folder holding the given icons, as an installation lays them out.
void installTheme(const QString &root, const QStringList &icons)
{
    const QString theme = root + QStringLiteral("/hicolor");
    QDir().mkpath(theme);
    QFile::copy(
        QStringLiteral("/usr/share/icons/hicolor/index.theme"), theme + QStringLiteral("/index.theme"));
    for (const QString &icon : icons) {
        const QString folder = icon.endsWith(QStringLiteral("-symbolic")) ? QStringLiteral("symbolic")
                                                                          : QStringLiteral("scalable");
        QDir().mkpath(theme + QLatin1Char('/') + folder + QStringLiteral("/apps"));
        QFile::copy(sourcePath(QStringLiteral("resources/icons/%1.svg").arg(icon)),
            theme + QLatin1Char('/') + folder + QStringLiteral("/apps/") + icon + QStringLiteral(".svg"));
    }
}
} // namespace

class PackagingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo::exists(QStringLiteral("/usr/share/icons/hicolor/index.theme")));
        BrambleApp::setApplicationIdentity();
    }

    void windowMatchesDesktopEntry()
    {
        const QMap<QString, QString> entry
            = desktopEntry(sourcePath(QStringLiteral("resources/bramble.desktop")));
        QVERIFY(!entry.isEmpty());
        // Qt gives an X11 window the class of the application's name; Wayland compositors
        // get the desktop file name as the app ID.
        QCOMPARE(entry.value(QStringLiteral("StartupWMClass")), QCoreApplication::applicationName());
        QCOMPARE(QGuiApplication::desktopFileName() + QStringLiteral(".desktop"),
            QStringLiteral("bramble.desktop"));
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("bramble"));
        QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("bramble"));

        QFile metainfo(sourcePath(QStringLiteral("resources/bramble.metainfo.xml")));
        QVERIFY(metainfo.open(QIODevice::ReadOnly));
        const QByteArray xml = metainfo.readAll();
        QVERIFY(xml.contains("<launchable type=\"desktop-id\">bramble.desktop</launchable>"));
        QVERIFY(xml.contains("<binary>bramble</binary>"));
    }

    void iconsComeFromTheThemeWhenInstalled()
    {
        QTemporaryDir themes;
        installTheme(themes.path(), { QStringLiteral("bramble"), QStringLiteral("bramble-symbolic") });
        QIcon::setThemeSearchPaths({ themes.path() });
        QIcon::setThemeName(QStringLiteral("hicolor"));

        const QIcon window = Symbols::applicationIcon();
        QCOMPARE(window.name(), QStringLiteral("bramble"));
        QVERIFY(!window.pixmap(64, 64).isNull());
        const QIcon tray = Symbols::trayIcon();
        QCOMPARE(tray.name(), QStringLiteral("bramble-symbolic"));
        QVERIFY(!tray.pixmap(22, 22).isNull());
    }

    void iconsFallBackToTheResources()
    {
        // A program run from its build folder: no theme holds its icons.
        QTemporaryDir themes;
        installTheme(themes.path(), {});
        QIcon::setThemeSearchPaths({ themes.path() });
        QIcon::setThemeName(QStringLiteral("hicolor"));

        const QIcon window = Symbols::applicationIcon();
        QVERIFY(window.name().isEmpty());
        QVERIFY(!window.pixmap(64, 64).isNull());
        const QIcon tray = Symbols::trayIcon();
        QVERIFY(tray.name() != QStringLiteral("bramble-symbolic"));
        QVERIFY(!tray.pixmap(22, 22).isNull());
    }

    void autostartEntryMatchesDesktopEntry()
    {
        QVERIFY(LoginItem::entryPath().startsWith(TestEnvironment::root()));
        QString error;
        QVERIFY2(LoginItem::enable(&error), qPrintable(error));
        const QMap<QString, QString> autostart = desktopEntry(LoginItem::entryPath());
        const QMap<QString, QString> entry
            = desktopEntry(sourcePath(QStringLiteral("resources/bramble.desktop")));
        for (const char *key : { "Type", "Name", "Comment", "Comment[zh_CN]", "Icon", "StartupWMClass" })
            QCOMPARE(autostart.value(QLatin1String(key)), entry.value(QLatin1String(key)));
        QCOMPARE(autostart.value(QStringLiteral("Exec")), QCoreApplication::applicationFilePath());

        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), { LoginItem::entryPath() });
        QVERIFY2(validate.waitForFinished(30000), "desktop-file-validate did not finish");
        const QByteArray report = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(
            validate.exitStatus() == QProcess::NormalExit && validate.exitCode() == 0, report.constData());
        QVERIFY2(!report.contains("error"), report.constData());
        QVERIFY(LoginItem::disable(&error));
    }
};

BRAMBLE_TEST_MAIN(PackagingTest)
#include "tst_packaging.moc"
