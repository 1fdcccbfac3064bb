#include "app/BrambleApp.h"

#include "BuildConfig.h"
#include "app/CommandLine.h"
#include "app/LibraryRequests.h"
#include "app/Localization.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/WindowStartUp.h"
#include "exchange/DataExchange.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/Telemetry.h"
#include "ui/BookmarkListView.h"
#include "ui/ContentView.h"
#include "ui/GroupsMenuBarView.h"
#include "ui/LinkOpener.h"
#include "ui/RefreshStatusView.h"
#include "ui/SearchPane.h"
#include "ui/SettingsView.h"
#include "ui/SettingsWindow.h"
#include "ui/Symbols.h"
#include "ui/UpdateDialogs.h"
#include "ui/UpdateSettingsView.h"
#include "ui/WindowState.h"
#include "update/UpdaterViewModel.h"
#include "update/framework/UpdateRelaunch.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <cstdio>

void BrambleApp::setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Bramble"));
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setOrganizationDomain(QString());
    QCoreApplication::setApplicationVersion(QLatin1String(BuildConfig::shortVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("bramble"));
}

namespace {

// Everything after the lock: the store, the analytics client, the scenes.
QCoro::Task<> startWindow(SingleInstance *instance, std::unique_ptr<BrambleApp> *app)
{
    WindowStartUp startUp(instance);
    QObject::connect(
        &startUp, &WindowStartUp::cancelled, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoro::Task<WindowStartUp::Result> starting = startUp.run();
    const WindowStartUp::Result result = co_await starting;
    if (result == WindowStartUp::Result::Cancelled) {
        QCoreApplication::exit(0);
        co_return;
    }
    if (result == WindowStartUp::Result::RunningWindowShown) {
        std::fprintf(stdout, "Bramble is already running; its window was brought to the front.\n");
        std::fflush(stdout);
        QCoreApplication::exit(0);
        co_return;
    }

    QString error;
    std::unique_ptr<ModelContainer> container = ModelContainer::open(instance->storePath(), &error);
    if (!container) {
        std::fprintf(stderr, "Could not create ModelContainer: %s\n", qPrintable(error));
        QCoreApplication::exit(1);
        co_return;
    }
    const std::optional<ModelContainer::RemovedImport> removed = container->removedImport();

    Telemetry::start();
    Telemetry::sendLaunched();

    *app = std::make_unique<BrambleApp>(std::move(container));
    BrambleApp *bramble = app->get();
    bramble->serve(instance);
    bramble->serveRefresh(instance);
    bramble->showMainWindow();
    bramble->showTrayMenu();
    // The real window is up before the waiting one goes, so the application never stands
    // without a window.
    startUp.closeWaitView();
    if (removed)
        bramble->mainWindow()->showNotice(
            QStringLiteral("上次的导入没有完成，它添加的 %1 个分组和 %2 个链接已被移除。请重新导入该文件。")
                .arg(removed->groupCount)
                .arg(removed->linkCount));
    bramble->takeOverRefresh(startUp.handOver());
}

} // namespace

int BrambleApp::main(int argc, char **argv)
{
    if (CommandLine::requested(argc, argv))
        return CommandLine::run(argc, argv);
    // After an update the new version waits here until the old one has let go of the store.
    UpdateRelaunch::waitForReplacedProcess();
    setApplicationIdentity();
    QApplication application(argc, argv);
    // Before the lock is taken: a termination signal at any moment from here on, during the
    // start as later, ends in an orderly quit that saves and lets go of the lock.
    TerminationSignals terminationSignals;
    QObject::connect(
        &terminationSignals, &TerminationSignals::received, &application, &QCoreApplication::quit);
    QApplication::setWindowIcon(Symbols::applicationIcon());
    Localization::apply();

    // One process per store: a later launch hands over to the one that holds it.
    SingleInstance instance(ModelContainer::defaultStorePath());
    std::unique_ptr<BrambleApp> app;
    QTimer::singleShot(0, &application, [&instance, &app] { startWindow(&instance, &app); });
    const int status = QApplication::exec();
    // Windows and store go before the lock is let go.
    app.reset();
    return status;
}

BrambleApp::BrambleApp(std::unique_ptr<ModelContainer> container, QObject *parent)
    : QObject(parent)
    , m_sharedModelContainer(std::move(container))
    , m_dataExchange(std::make_unique<DataExchange>(m_sharedModelContainer->mainContext()))
    , m_updaterViewModel(new UpdaterViewModel(this))
{
    // The window works the store's refresh queue whenever links join it ("刷新信息", imports).
    m_dataExchange->setWorksQueueWhenItGrows(true);
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
        m_mainWindow->addStatusWidget(new RefreshStatusView(m_dataExchange.get()));
        m_updateDialogs = new UpdateDialogs(m_updaterViewModel, m_mainWindow.get());
        m_updaterViewModel->setUserDriver(m_updateDialogs);
        auto *settings = new QAction(QStringLiteral("Settings…"), m_mainWindow.get());
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        settings->setMenuRole(QAction::PreferencesRole);
        connect(settings, &QAction::triggered, this, &BrambleApp::showSettings);
        m_mainWindow->addBeforeQuit(settings);
        // After the detail factory: the remembered group is shown with its real list.
        new WindowState(m_mainWindow.get(), m_mainWindow->contentView(),
            UpdaterViewModelConfiguration::standardSettingsPath());
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
        connect(
            m_groupsMenu.get(), &GroupsMenuBarView::showWindowRequested, this, &BrambleApp::showMainWindow);
        connect(m_groupsMenu.get(), &GroupsMenuBarView::searchRequested, this, [this] {
            showMainWindow();
            mainWindow()->contentView()->searchPane()->focusSearch();
        });
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
    // The tray menu outlives the window: closing the window then leaves Bramble in the tray,
    // and only Quit (or a termination signal) ends it. Without a tray, closing quits.
    QGuiApplication::setQuitOnLastWindowClosed(!groupsMenu()->isInTray());
}

void BrambleApp::showSettings()
{
    if (!m_settingsView) {
        // Each opening starts from fresh view state, as closing the window discards it.
        m_settingsView = new SettingsView(m_sharedModelContainer->mainContext(), m_dataExchange.get());
        m_settingsView->setAttribute(Qt::WA_DeleteOnClose);
        m_settingsView->setWindowTitle(QStringLiteral("Bramble Settings"));
        m_settingsView->setUpdatesContent(new UpdateSettingsView(m_updaterViewModel));
        SettingsWindow::prepare(m_settingsView, m_mainWindow.get());
    }
    m_settingsView->show();
    m_settingsView->raise();
    m_settingsView->activateWindow();
}

void BrambleApp::quit()
{
    QCoreApplication::quit();
}

void BrambleApp::serve(SingleInstance *instance)
{
    using Message = InstanceProtocol::Message;
    instance->setHandler(QLatin1String(InstanceProtocol::activate), [this](Message) -> QCoro::Task<Message> {
        showMainWindow();
        Message answer = InstanceProtocol::success();
        answer["host"] = InstanceProtocol::windowHost;
        co_return answer;
    });
    instance->setHandler(QLatin1String(InstanceProtocol::release), [](Message) -> QCoro::Task<Message> {
        co_return InstanceProtocol::failure(
            QStringLiteral("Bramble's window keeps the library while it is open."));
    });
    instance->setHandler(
        QLatin1String(InstanceProtocol::add), [this](Message request) -> QCoro::Task<Message> {
            // As the add alert does it: the row at once, the metadata after.
            Message answer = LibraryRequests::add(
                m_sharedModelContainer->mainContext(), request, [](BookmarkItem *link) {
                    BookmarkListView::fetchMetadataForNewBookmark(link, link->urlString());
                });
            answer["host"] = InstanceProtocol::windowHost;
            co_return answer;
        });
    instance->setHandler(
        QLatin1String(InstanceProtocol::import), [this](Message request) -> QCoro::Task<Message> {
            QCoro::Task<Message> importing
                = LibraryRequests::import(m_dataExchange.get(), std::move(request));
            Message answer = co_await importing;
            answer["host"] = InstanceProtocol::windowHost;
            co_return answer;
        });
}

void BrambleApp::serveRefresh(SingleInstance *instance)
{
    using Message = InstanceProtocol::Message;
    instance->setHandler(
        QLatin1String(InstanceProtocol::refresh), [this](Message request) -> QCoro::Task<Message> {
            Message answer = LibraryRequests::refresh(
                m_dataExchange.get(), m_sharedModelContainer->mainContext(), request);
            answer["host"] = InstanceProtocol::windowHost;
            co_return answer;
        });
}

void BrambleApp::takeOverRefresh(const InstanceProtocol::Message &handOver)
{
    const QList<DataExchange::RefreshTarget> pending
        = LibraryRequests::pendingFromMessage(m_sharedModelContainer->mainContext(), handOver);
    // Also works what the store's queue already holds: left by an earlier run, or by the
    // command that handed over.
    m_dataExchange->enqueueRefresh(pending);
}
