#pragma once

#include "ui/OpenAllAlert.h"

#include <QObject>
#include <QPointer>
#include <functional>

class BookmarkGroup;
class ModelContext;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The tray menu: every group oldest first with its link count, opening all of a group's links
// with one choice, plus showing the window, Settings, the update check and Quit. A left click
// on the icon opens the menu too, as the right click does.
class GroupsMenuBarView : public QObject
{
    Q_OBJECT

public:
    // Opens one stored address; returns whether it was opened.
    using Opener = std::function<bool(const QString &urlString)>;

    explicit GroupsMenuBarView(ModelContext *context, QObject *parent = nullptr);
    ~GroupsMenuBarView() override;

    void setOpener(Opener opener);
    // The shared "Check for Updates..." action; null leaves the item out.
    void setCheckForUpdatesAction(QAction *action);

    QMenu *menu() const { return m_menu; }
    // Whether the desktop shows tray icons; QSystemTrayIcon's answer unless replaced.
    void setTrayAvailability(std::function<bool()> available);
    // Shows the icon when the desktop has a tray; says so once on standard output when not.
    void show();
    // The icon is in the tray, so the application can live on without its window.
    bool isInTray() const;
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // Rebuilds the menu from the store now.
    void rebuild();
    // Opens the group's links in the order the list shows them, after the list's confirmation
    // when there are more than 15; an alert names those that cannot open.
    void openAllLinks(BookmarkGroup *group);
    // The confirmation, while it is open.
    OpenAllAlert *openAllAlert() const { return m_openAllAlert; }

Q_SIGNALS:
    void showWindowRequested();
    // "搜索…": the window with the search field focused.
    void searchRequested();
    void settingsRequested();
    void quitRequested();

private:
    void scheduleRebuild();
    void openNow(BookmarkGroup *group);

    ModelContext *m_context;
    QMenu *m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    QPointer<QAction> m_checkForUpdates;
    Opener m_opener;
    QPointer<OpenAllAlert> m_openAllAlert;
    std::function<bool()> m_trayAvailable;
    bool m_rebuildPending = false;
};
