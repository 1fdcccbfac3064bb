// The test executable: every suite that registered itself, and the child mode the
// interrupted-install tests start.
#include "UpdateTestSupport.h"
#include "support/TestEnvironment.h"
#include "update/framework/UpdateInstaller.h"

#include <csignal>
#include <cstdio>
#include <vector>

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
bool takesValue(const QByteArray &option)
{
    return option == "-o" || option == "-maxwarnings" || option == "-eventdelay" || option == "-keydelay"
        || option == "-mousedelay";
}

// The arguments for one suite: every option, and only the functions it has.
QList<QByteArray> argumentsFor(const QMetaObject *suite, int argc, char **argv, bool *namesAny)
{
    QList<QByteArray> arguments { argv[0] };
    *namesAny = false;
    bool anyFunction = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument.startsWith('-')) {
            arguments << argument;
            if (takesValue(argument) && i + 1 < argc)
                arguments << QByteArray(argv[++i]);
            continue;
        }
        anyFunction = true;
        if (suite->indexOfMethod(argument.split(':').first() + "()") >= 0) {
            arguments << argument;
            *namesAny = true;
        }
    }
    if (!anyFunction)
        *namesAny = true;
    return arguments;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && qstrcmp(argv[1], "--install-and-die-at") == 0)
        return installAndDie(argv);
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (const TestSuite &suite : testSuites()) {
        bool wanted = false;
        QList<QByteArray> arguments = argumentsFor(suite.metaObject, argc, argv, &wanted);
        if (!wanted)
            continue;
        std::vector<char *> pointers;
        for (QByteArray &argument : arguments)
            pointers.push_back(argument.data());
        failures += suite.run(int(pointers.size()), pointers.data());
    }
    return failures;
}
