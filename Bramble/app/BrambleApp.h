#pragma once

#include "app/InstanceProtocol.h"

#include <QObject>
#include <QPointer>
#include <memory>

class DataExchange;
class GroupsMenuBarView;
class MainWindow;
class ModelContainer;
class QAction;
class SettingsView;
class SingleInstance;
class UpdateDialogs;
class UpdaterViewModel;

// The application: owns the store for the life of the process and the scenes built on it.
class BrambleApp : public QObject
{
    Q_OBJECT

public:
    // The whole program, from the command line to the exit status.
    static int main(int argc, char **argv);
    // Application name "Bramble" with no organisation, so files land in .../Bramble/.
    static void setApplicationIdentity();

    explicit BrambleApp(std::unique_ptr<ModelContainer> container, QObject *parent = nullptr);
    ~BrambleApp() override;

    ModelContainer *sharedModelContainer() const { return m_sharedModelContainer.get(); }
    MainWindow *mainWindow();
    DataExchange *dataExchange() const { return m_dataExchange.get(); }
    GroupsMenuBarView *groupsMenu();
    // The one update controller, shared by the window, the tray and the settings.
    UpdaterViewModel *updaterViewModel() const { return m_updaterViewModel; }
    // The settings window, while it is open.
    SettingsView *settingsView() const;

    void showMainWindow();
    // Opens the settings window, or brings it to the front when it is open.
    void showSettings();
    // Shows the tray icon; with one, closing the window leaves Bramble running in the tray.
    void showTrayMenu();
    // The Quit command; termination signals take the same road.
    void quit();

    // Answers the other processes of this library: a later launch brings the window to the
    // front, and the commands hand over their links and imports.
    void serve(SingleInstance *instance);
    // Fetches the metadata of the links a command that handed over the library left waiting.
    void takeOverRefresh(const InstanceProtocol::Message &handOver);
    // Answers the command line's refresh requests.
    void serveRefresh(SingleInstance *instance);

private:
    // Declared first so it outlives every window that works on it.
    std::unique_ptr<ModelContainer> m_sharedModelContainer;
    std::unique_ptr<DataExchange> m_dataExchange;
    UpdaterViewModel *m_updaterViewModel;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<GroupsMenuBarView> m_groupsMenu;
    QPointer<SettingsView> m_settingsView;
    UpdateDialogs *m_updateDialogs = nullptr;
};
