// The test executable: every suite that registered itself, and the child mode the
// interrupted-install tests start.
#include "UpdateTestSupport.h"
#include "support/TestEnvironment.h"
#include "update/framework/UpdateInstaller.h"

#include <csignal>
#include <cstdio>

// A child run of this program that installs and is killed at the named step, as kill -9
// would: "--install-and-die-at STEP TARGET STAGED atomic|renames".
int installAndDie(char **argv)
{
    const QByteArray step = argv[2];
    InstallTarget target;
    target.kind = InstallTarget::Kind::Portable;
    target.path = QString::fromLocal8Bit(argv[3]);
    target.executable = QStringLiteral("bramble");
    UpdateInstaller::InstallOptions options;
    options.atomicSwap = qstrcmp(argv[5], "atomic") == 0;
    options.checkpoint = [step](const char *reached) {
        if (step == reached)
            ::raise(SIGKILL);
    };
    const auto result = UpdateInstaller::install(target, QString::fromLocal8Bit(argv[4]), options);
    std::fprintf(stderr, "%s\n", qPrintable(result.error));
    return result.ok() ? 0 : 1;
}

namespace {
// Test functions named on the command line, without their data tags.
QList<QByteArray> requestedFunctions(int argc, char **argv)
{
    QList<QByteArray> names;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument.startsWith('-')) {
            // Options that take a value.
            if (argument == "-o" || argument == "-maxwarnings" || argument == "-eventdelay"
                || argument == "-keydelay" || argument == "-mousedelay")
                ++i;
            continue;
        }
        names.append(argument.split(':').first());
    }
    return names;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && qstrcmp(argv[1], "--install-and-die-at") == 0)
        return installAndDie(argv);
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    const QList<QByteArray> names = requestedFunctions(argc, argv);
    int failures = 0;
    for (const TestSuite &suite : testSuites()) {
        bool wanted = names.isEmpty();
        for (const QByteArray &name : names)
            wanted = wanted || suite.metaObject->indexOfMethod(name + "()") >= 0;
        if (wanted)
            failures += suite.run(argc, argv);
    }
    return failures;
}
