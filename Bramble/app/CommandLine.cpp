#include "app/CommandLine.h"

#include "BuildConfig.h"
#include "app/BrambleApp.h"
#include "app/cli/CommandArguments.h"
#include "app/cli/CommandOutput.h"
#include "app/cli/ReadCommands.h"
#include "app/cli/SearchCommand.h"
#include "app/cli/WriteCommands.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

int usageError(const QString &problem)
{
    CommandOutput::complain(QStringLiteral("bramble: ") + problem);
    std::fputs(CommandArguments::usageText(), stderr);
    return 2;
}

QCoro::Task<> drive(std::function<QCoro::Task<int>()> body)
{
    QCoro::Task<int> running = body();
    const int status = co_await running;
    QCoreApplication::exit(status);
}

} // namespace

bool CommandLine::requested(int argc, char **argv)
{
    if (argc < 2)
        return false;
    const QString first = QString::fromLocal8Bit(argv[1]);
    if (first == QStringLiteral("-h") || first == QStringLiteral("--help") || first == QStringLiteral("-v")
        || first == QStringLiteral("--version"))
        return true;
    // Other options belong to the window (Qt's own, such as -platform).
    return !first.startsWith(QLatin1Char('-'));
}

int CommandLine::run(int argc, char **argv)
{
    CommandOutput::separateResults();
    BrambleApp::setApplicationIdentity();
    QCoreApplication application(argc, argv);

    QStringList words = QCoreApplication::arguments().mid(1);
    const QString first = words.value(0);
    if (first == QStringLiteral("-h") || first == QStringLiteral("--help")) {
        CommandOutput::resultBytes(QByteArray(CommandArguments::usageText()));
        return 0;
    }
    if (first == QStringLiteral("-v") || first == QStringLiteral("--version")) {
        CommandOutput::result(
            QStringLiteral("bramble %1 (build %2)")
                .arg(QLatin1String(BuildConfig::shortVersion), QLatin1String(BuildConfig::buildNumber)));
        return 0;
    }
    if (!CommandArguments::isCommand(first))
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first));

    CommandArguments arguments;
    const QString command = words.takeFirst();
    if (const auto problem = CommandArguments::parse(command, words, &arguments))
        return usageError(*problem);

    std::function<QCoro::Task<int>()> body;
    if (command == QStringLiteral("list"))
        body = [arguments] { return ReadCommands::list(arguments); };
    else if (command == QStringLiteral("add"))
        body = [arguments] { return WriteCommands::add(arguments); };
    else if (command == QStringLiteral("metadata"))
        body = [arguments] { return ReadCommands::metadata(arguments); };
    else if (command == QStringLiteral("export"))
        body = [arguments] { return ReadCommands::exportLibrary(arguments); };
    else if (command == QStringLiteral("search"))
        body = [arguments] { return SearchCommand::run(arguments); };
    else if (command == QStringLiteral("refresh"))
        body = [arguments] { return WriteCommands::refresh(arguments); };
    else
        body = [arguments] { return WriteCommands::importLibrary(arguments); };

    QTimer::singleShot(0, &application, [body] { drive(body); });
    return QCoreApplication::exec();
}
