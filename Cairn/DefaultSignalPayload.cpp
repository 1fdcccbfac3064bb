#include "Cairn/DefaultSignalPayload.h"

#include "Cairn/Clock.h"

#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <sys/utsname.h>

namespace Cairn::DefaultSignalPayload {

namespace {

    QString unameMachine()
    {
        struct utsname info
        {
        };
        if (uname(&info) != 0)
            return QStringLiteral("unknown");
        return QString::fromUtf8(info.machine);
    }

    QString hardwareModel()
    {
        QFile file(QStringLiteral("/sys/devices/virtual/dmi/id/product_name"));
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray bytes = file.readAll();
            const int zero = bytes.indexOf('\0');
            if (zero >= 0)
                bytes.truncate(zero);
            const QString model = QString::fromUtf8(bytes).trimmed();
            if (!model.isEmpty())
                return model;
        }
        return unameMachine();
    }

    QString firstComponent(const QString &identifier)
    {
        return identifier.split(QRegularExpression(QStringLiteral("[-_]"))).first();
    }

    QString lastComponent(const QString &identifier)
    {
        return identifier.split(QRegularExpression(QStringLiteral("[-_]"))).last();
    }

    // Reduced motion where the desktop's setting is readable: KDE's kdeglobals
    // ([KDE] AnimationDurationFactor=0 turns animations off). Anything else: "false".
    QString reduceMotion()
    {
        const QString path
            = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
        if (path.isEmpty())
            return QStringLiteral("false");
        QSettings kde(path, QSettings::IniFormat);
        const QVariant factor = kde.value(QStringLiteral("KDE/AnimationDurationFactor"));
        if (factor.isValid() && factor.toString().trimmed() == QStringLiteral("0"))
            return QStringLiteral("true");
        return QStringLiteral("false");
    }

    struct StaticFacts
    {
        Parameters base; // everything that does not change while the program runs
    };

    const StaticFacts &staticFacts()
    {
        static const StaticFacts facts = [] {
            StaticFacts f;
            Parameters &p = f.base;
            const SystemVersion version = systemVersionFromKernel(QSysInfo::kernelVersion());
            const QString model = hardwareModel();
            const QString architecture = unameMachine();
            const QLocale locale = QLocale::system();
            const QString localeIdentifier = locale.name();
            QString region = locale.territory() != QLocale::AnyTerritory
                ? QLocale::territoryToCode(locale.territory())
                : QString();
            if (region.isEmpty())
                region = lastComponent(localeIdentifier);
            QString language = locale.language() != QLocale::AnyLanguage
                ? QLocale::languageToCode(locale.language())
                : QString();
            if (language.isEmpty())
                language = firstComponent(localeIdentifier);
            const QStringList preferred = locale.uiLanguages();
            const QString preferredLanguage
                = firstComponent(preferred.isEmpty() ? QStringLiteral("zz-ZZ") : preferred.first());
            const QString falseText = QStringLiteral("false");
            const QString linuxText = QStringLiteral("Linux");

            p.insert(QStringLiteral("platform"), linuxText);
            p.insert(QStringLiteral("systemVersion"), version.full);
            p.insert(QStringLiteral("majorSystemVersion"), version.major);
            p.insert(QStringLiteral("majorMinorSystemVersion"), version.majorMinor);
            p.insert(QStringLiteral("isSimulator"), falseText);
            p.insert(QStringLiteral("isDebug"), falseText);
            // No store receipt exists on Linux and the program did not come from an app store.
            p.insert(QStringLiteral("isTestFlight"), falseText);
            p.insert(QStringLiteral("isAppStore"), falseText);
            p.insert(QStringLiteral("modelName"), model);
            p.insert(QStringLiteral("architecture"), architecture);
            p.insert(QStringLiteral("operatingSystem"), linuxText);
            p.insert(QStringLiteral("targetEnvironment"), QStringLiteral("native"));
            p.insert(QStringLiteral("locale"), localeIdentifier);
            p.insert(QStringLiteral("region"), region);
            p.insert(QStringLiteral("appLanguage"), language);
            p.insert(QStringLiteral("preferredLanguage"), preferredLanguage);
            p.insert(QStringLiteral("telemetryClientVersion"), QStringLiteral("1.0.0"));
            p.insert(QStringLiteral("Cairn.Device.architecture"), architecture);
            p.insert(QStringLiteral("Cairn.Device.modelName"), model);
            p.insert(QStringLiteral("Cairn.Device.operatingSystem"), linuxText);
            p.insert(QStringLiteral("Cairn.Device.orientation"), QStringLiteral("Fixed"));
            p.insert(QStringLiteral("Cairn.Device.platform"), linuxText);
            p.insert(QStringLiteral("Cairn.Device.systemMajorMinorVersion"), version.majorMinor);
            p.insert(QStringLiteral("Cairn.Device.systemMajorVersion"), version.major);
            p.insert(QStringLiteral("Cairn.Device.systemVersion"), version.full);
            p.insert(QStringLiteral("Cairn.RunContext.isAppStore"), falseText);
            p.insert(QStringLiteral("Cairn.RunContext.isDebug"), falseText);
            p.insert(QStringLiteral("Cairn.RunContext.isSimulator"), falseText);
            p.insert(QStringLiteral("Cairn.RunContext.isTestFlight"), falseText);
            p.insert(QStringLiteral("Cairn.RunContext.language"), language);
            p.insert(QStringLiteral("Cairn.RunContext.locale"), localeIdentifier);
            p.insert(QStringLiteral("Cairn.RunContext.targetEnvironment"), QStringLiteral("native"));
            p.insert(QStringLiteral("Cairn.SDK.name"), QStringLiteral("CppSDK"));
            p.insert(QStringLiteral("Cairn.SDK.nameAndVersion"), QStringLiteral("CppSDK 1.0.0"));
            p.insert(QStringLiteral("Cairn.SDK.version"), QStringLiteral("1.0.0"));
            p.insert(QStringLiteral("Cairn.UserPreference.language"), preferredLanguage);
            p.insert(QStringLiteral("Cairn.UserPreference.region"), region);
            p.insert(QStringLiteral("Cairn.Accessibility.isReduceMotionEnabled"), reduceMotion());
            // No desktop setting for inverted colours is readable here.
            p.insert(QStringLiteral("Cairn.Accessibility.isInvertColorsEnabled"), falseText);
            return f;
        }();
        return facts;
    }

} // namespace

SystemVersion systemVersionFromKernel(const QString &kernelVersion)
{
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto match = numbers.match(kernelVersion);
    const QString major = match.hasMatch() ? match.captured(1) : QStringLiteral("0");
    const QString minor = match.captured(2).isEmpty() ? QStringLiteral("0") : match.captured(2);
    const QString patch = match.captured(3).isEmpty() ? QStringLiteral("0") : match.captured(3);
    const QString prefix = QStringLiteral("Linux ");
    return SystemVersion { prefix + major + QLatin1Char('.') + minor + QLatin1Char('.') + patch,
        prefix + major, prefix + major + QLatin1Char('.') + minor };
}

QString timeZoneText(int secondsEastOfGMT)
{
    const int hours = secondsEastOfGMT / 3600;
    const int minutes = (secondsEastOfGMT % 3600) / 60;
    QString text = QStringLiteral("UTC") + (secondsEastOfGMT < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        + QString::number(std::abs(hours));
    if (minutes != 0)
        text += QLatin1Char(':') + QStringLiteral("%1").arg(std::abs(minutes), 2, 10, QLatin1Char('0'));
    return text;
}

QString doubleText(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))
        && !text.contains(QLatin1Char('n')) && !text.contains(QLatin1Char('i')))
        text += QStringLiteral(".0");
    return text;
}

Parameters parameters(const Inputs &inputs)
{
    Parameters p = staticFacts().base;
    const QDateTime now = inputs.now.isValid() ? inputs.now : Clock::now();

    p.insert(QStringLiteral("appVersion"), inputs.appVersion);
    p.insert(QStringLiteral("buildNumber"), inputs.buildNumber);
    p.insert(QStringLiteral("Cairn.AppInfo.buildNumber"), inputs.buildNumber);
    p.insert(QStringLiteral("Cairn.AppInfo.version"), inputs.appVersion);
    p.insert(QStringLiteral("Cairn.AppInfo.versionAndBuildNumber"),
        inputs.appVersion + QStringLiteral(" (build ") + inputs.buildNumber + QLatin1Char(')'));

    // Display state: only with a QGuiApplication, and only on its thread.
    auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    const QScreen *screen = gui ? QGuiApplication::primaryScreen() : nullptr;
    const QString na = QStringLiteral("N/A");
    if (screen) {
        const QRect frame = screen->geometry();
        p.insert(QStringLiteral("Cairn.Device.screenResolutionHeight"), doubleText(frame.height()));
        p.insert(QStringLiteral("Cairn.Device.screenResolutionWidth"), doubleText(frame.width()));
        p.insert(QStringLiteral("Cairn.Device.screenScaleFactor"), doubleText(screen->devicePixelRatio()));
    } else {
        p.insert(QStringLiteral("Cairn.Device.screenResolutionHeight"), na);
        p.insert(QStringLiteral("Cairn.Device.screenResolutionWidth"), na);
        p.insert(QStringLiteral("Cairn.Device.screenScaleFactor"), na);
    }
    QString colorScheme = QStringLiteral("Light");
    if (gui) {
        const QPalette palette = QGuiApplication::palette();
        if (palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness())
            colorScheme = QStringLiteral("Dark");
    }
    p.insert(QStringLiteral("Cairn.UserPreference.colorScheme"), colorScheme);
    QString layout = na;
    if (gui)
        layout = QGuiApplication::layoutDirection() == Qt::LeftToRight ? QStringLiteral("leftToRight")
                                                                       : QStringLiteral("rightToLeft");
    else if (QCoreApplication::instance())
        layout = QLocale().textDirection() == Qt::LeftToRight ? QStringLiteral("leftToRight")
                                                              : QStringLiteral("rightToLeft");
    p.insert(QStringLiteral("Cairn.UserPreference.layoutDirection"), layout);

    const QDateTime local = now.toLocalTime();
    p.insert(QStringLiteral("Cairn.Device.timeZone"), timeZoneText(local.offsetFromUtc()));

    // Calendar (Gregorian, current time zone). Weeks are ISO 8601 weeks.
    const QDate date = local.date();
    const int dayOfWeek = date.dayOfWeek(); // 1 = Monday ... 7 = Sunday
    p.insert(QStringLiteral("Cairn.Calendar.dayOfMonth"), QString::number(date.day()));
    p.insert(QStringLiteral("Cairn.Calendar.dayOfWeek"), QString::number(dayOfWeek));
    p.insert(QStringLiteral("Cairn.Calendar.dayOfYear"), QString::number(date.dayOfYear()));
    p.insert(QStringLiteral("Cairn.Calendar.weekOfYear"), QString::number(date.weekNumber()));
    p.insert(QStringLiteral("Cairn.Calendar.isWeekend"),
        dayOfWeek >= 6 ? QStringLiteral("true") : QStringLiteral("false"));
    p.insert(QStringLiteral("Cairn.Calendar.monthOfYear"), QString::number(date.month()));
    p.insert(QStringLiteral("Cairn.Calendar.quarterOfYear"), QString::number((date.month() - 1) / 3 + 1));
    p.insert(QStringLiteral("Cairn.Calendar.hourOfDay"), QString::number(local.time().hour()));

    // Acquisition and retention.
    const SessionManager::Statistics stats = inputs.sessions.value_or(SessionManager::Statistics {});
    p.insert(QStringLiteral("Cairn.Acquisition.firstSessionDate"),
        stats.firstSessionDate.value_or(SessionManager::fullDate(now)));
    p.insert(QStringLiteral("Cairn.Retention.averageSessionSeconds"),
        QString::number(stats.averageSessionSeconds));
    p.insert(
        QStringLiteral("Cairn.Retention.distinctDaysUsed"), QString::number(stats.distinctDaysUsed.size()));
    const QString monthAgo = now.toUTC().addSecs(-2592000).date().toString(Qt::ISODate);
    int lastMonth = 0;
    for (const QString &day : stats.distinctDaysUsed) {
        if (day >= monthAgo)
            ++lastMonth;
    }
    p.insert(QStringLiteral("Cairn.Retention.distinctDaysUsedLastMonth"), QString::number(lastMonth));
    p.insert(QStringLiteral("Cairn.Retention.totalSessionsCount"),
        QString::number(stats.recentSessions.size() + stats.deletedSessionsCount));
    if (stats.recentSessions.size() >= 2)
        p.insert(QStringLiteral("Cairn.Retention.previousSessionSeconds"),
            QString::number(stats.recentSessions.at(stats.recentSessions.size() - 2).durationInSeconds));
    return p;
}

} // namespace Cairn::DefaultSignalPayload
