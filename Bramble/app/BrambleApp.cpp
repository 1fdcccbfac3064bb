#include "app/BrambleApp.h"

#include "BuildConfig.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "exchange/DataExchange.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/Telemetry.h"
#include "ui/BookmarkListView.h"
#include "ui/ContentView.h"
#include "ui/GroupsMenuBarView.h"
#include "ui/LinkOpener.h"
#include "ui/SettingsView.h"
#include "ui/Symbols.h"
#include "ui/UpdateDialogs.h"
#include "ui/UpdateSettingsView.h"
#include "update/UpdaterViewModel.h"
#include "update/framework/UpdateRelaunch.h"

#include <QAction>
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
    if (CommandLine::requested(argc, argv))
        return CommandLine::run(argc, argv);
    // After an update the new version waits here until the old one has let go of the store.
    UpdateRelaunch::waitForReplacedProcess();
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

    Telemetry::start();
    Telemetry::sendLaunched();

    BrambleApp app(std::move(container));
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, &BrambleApp::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &BrambleApp::showMainWindow);
    app.showMainWindow();
    app.showTrayMenu();
    return QApplication::exec();
}

BrambleApp::BrambleApp(std::unique_ptr<ModelContainer> container, QObject *parent)
    : QObject(parent)
    , m_sharedModelContainer(std::move(container))
    , m_dataExchange(std::make_unique<DataExchange>(m_sharedModelContainer->mainContext()))
    , m_updaterViewModel(new UpdaterViewModel(this))
{
    connect(m_updaterViewModel, &UpdaterViewModel::relaunchRequested, this,
        [](const QString &program, const QStringList &arguments) {
            UpdateRelaunch::relaunchAndQuit(program, arguments);
        });
}

namespace {
// An action that follows the update controller; the window's also waits while a check runs.
QAction *checkForUpdatesAction(UpdaterViewModel *updater, bool waitWhileChecking, QObject *parent)
{
    auto *action = new QAction(QStringLiteral("Check for Updates..."), parent);
    const auto follow = [action, updater, waitWhileChecking] {
        action->setEnabled(
            updater->canCheckForUpdates() && !(waitWhileChecking && updater->isCheckingForUpdates()));
    };
    follow();
    QObject::connect(updater, &UpdaterViewModel::stateChanged, action, follow);
    QObject::connect(action, &QAction::triggered, updater, &UpdaterViewModel::checkForUpdates);
    return action;
}
} // namespace

BrambleApp::~BrambleApp()
{
    // Windows go before the store they show.
    delete m_settingsView;
    m_groupsMenu.reset();
    if (m_updaterViewModel)
        m_updaterViewModel->setUserDriver(nullptr);
    m_mainWindow.reset();
}

MainWindow *BrambleApp::mainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = std::make_unique<MainWindow>(m_sharedModelContainer->mainContext());
        connect(m_mainWindow.get(), &MainWindow::quitRequested, this, &BrambleApp::quit);
        m_mainWindow->contentView()->setDetailFactory(
            [](BookmarkGroup *group, ModelContext *context, QWidget *parent) -> QWidget * {
                return new BookmarkListView(group, context, parent);
            });
        m_mainWindow->addAfterAbout(checkForUpdatesAction(m_updaterViewModel, true, m_mainWindow.get()));
        m_updateDialogs = new UpdateDialogs(m_updaterViewModel, m_mainWindow.get());
        m_updaterViewModel->setUserDriver(m_updateDialogs);
        auto *settings = new QAction(QStringLiteral("Settings…"), m_mainWindow.get());
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        settings->setMenuRole(QAction::PreferencesRole);
        connect(settings, &QAction::triggered, this, &BrambleApp::showSettings);
        m_mainWindow->addBeforeQuit(settings);
    }
    return m_mainWindow.get();
}

void BrambleApp::showMainWindow()
{
    mainWindow()->bringToFront();
}

GroupsMenuBarView *BrambleApp::groupsMenu()
{
    if (!m_groupsMenu) {
        m_groupsMenu = std::make_unique<GroupsMenuBarView>(m_sharedModelContainer->mainContext());
        m_groupsMenu->setOpener([](const QString &urlString) { return LinkOpener::openLink(urlString); });
        connect(m_groupsMenu.get(), &GroupsMenuBarView::settingsRequested, this, &BrambleApp::showSettings);
        connect(m_groupsMenu.get(), &GroupsMenuBarView::quitRequested, this, &BrambleApp::quit);
        m_groupsMenu->setCheckForUpdatesAction(
            checkForUpdatesAction(m_updaterViewModel, false, m_groupsMenu.get()));
    }
    return m_groupsMenu.get();
}

SettingsView *BrambleApp::settingsView() const
{
    return m_settingsView;
}

void BrambleApp::showTrayMenu()
{
    groupsMenu()->show();
}

void BrambleApp::showSettings()
{
    if (!m_settingsView) {
        // Each opening starts from fresh view state, as closing the window discards it.
        m_settingsView = new SettingsView(m_sharedModelContainer->mainContext(), m_dataExchange.get());
        m_settingsView->setAttribute(Qt::WA_DeleteOnClose);
        m_settingsView->setWindowTitle(QStringLiteral("Bramble Settings"));
        m_settingsView->setUpdatesContent(new UpdateSettingsView(m_updaterViewModel));
    }
    m_settingsView->show();
    m_settingsView->raise();
    m_settingsView->activateWindow();
}

void BrambleApp::quit()
{
    QCoreApplication::quit();
}
