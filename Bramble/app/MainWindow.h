#pragma once

#include <QMainWindow>

class ContentView;
class ModelContext;
class QAction;
class QMenu;

// The main window: the group sidebar with its detail, the toolbar and the application menu.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(ModelContext *context, QWidget *parent = nullptr);

    ContentView *contentView() const { return m_contentView; }
    QMenu *applicationMenu() const { return m_applicationMenu; }
    QAction *aboutAction() const { return m_aboutAction; }
    QAction *quitAction() const { return m_quitAction; }

    // Puts an item in the section that follows "About Bramble" (where "Check for Updates..."
    // belongs), after the items added there before.
    void addAfterAbout(QAction *action);
    // Puts an item in the section just above "Quit Bramble" (where "Settings…" belongs).
    void addBeforeQuit(QAction *action);

    // Shows the window, brings it out of the Dock/minimised state and in front of others.
    void bringToFront();

Q_SIGNALS:
    void quitRequested();

private:
    void showAbout();

    ContentView *m_contentView;
    QMenu *m_applicationMenu;
    QAction *m_aboutAction;
    QAction *m_afterAboutSeparator;
    QAction *m_beforeQuitSeparator;
    QAction *m_quitAction;
};
