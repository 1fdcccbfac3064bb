#include "app/BrambleApp.h"

#include "BuildConfig.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "model/ModelContainer.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <cstdio>

void BrambleApp::setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Bramble"));
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setOrganizationDomain(QString());
    QCoreApplication::setApplicationVersion(QLatin1String(BuildConfig::shortVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("bramble"));
}

int BrambleApp::main(int argc, char **argv)
{
    setApplicationIdentity();
    QApplication application(argc, argv);
    QApplication::setWindowIcon(Symbols::applicationIcon());

    const QString storePath = ModelContainer::defaultStorePath();

    // One process per store: a second launch hands over to the running one and leaves.
    SingleInstance instance(storePath);
    switch (instance.acquire()) {
    case SingleInstance::Role::Primary:
        break;
    case SingleInstance::Role::Secondary:
        if (instance.activatePrimary()) {
            std::fprintf(stdout, "Bramble is already running; its window was brought to the front.\n");
            return 0;
        }
        std::fprintf(stderr, "Bramble is already running but did not answer.\n");
        return 1;
    case SingleInstance::Role::Unavailable:
        // Opening the store below reports the real problem.
        break;
    }

    // Installed before the store opens, so an early SIGTERM still ends in an orderly quit.
    TerminationSignals terminationSignals;

    QString error;
    std::unique_ptr<ModelContainer> container = ModelContainer::open(storePath, &error);
    if (!container) {
        std::fprintf(stderr, "Could not create ModelContainer: %s\n", qPrintable(error));
        return 1;
    }

    // The analytics client starts here: after the store, before the first window.

    BrambleApp app(std::move(container));
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, &BrambleApp::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &BrambleApp::showMainWindow);
    app.showMainWindow();
    return QApplication::exec();
}

BrambleApp::BrambleApp(std::unique_ptr<ModelContainer> container, QObject *parent)
    : QObject(parent)
    , m_sharedModelContainer(std::move(container))
{ }

BrambleApp::~BrambleApp() = default;

MainWindow *BrambleApp::mainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = std::make_unique<MainWindow>(m_sharedModelContainer->mainContext());
        connect(m_mainWindow.get(), &MainWindow::quitRequested, this, &BrambleApp::quit);
    }
    return m_mainWindow.get();
}

void BrambleApp::showMainWindow()
{
    mainWindow()->bringToFront();
}

void BrambleApp::quit()
{
    QCoreApplication::quit();
}
