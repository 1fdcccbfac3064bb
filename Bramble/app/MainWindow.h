#pragma once

#include <QMainWindow>

class ContentView;
class ModelContext;
class QAction;
class QLabel;
class QMenu;
class WindowMenu;

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
    // "书签": the sidebar's and the shown group's commands with their shortcuts.
    WindowMenu *windowMenu() const { return m_windowMenu; }

    // Puts an item in the section that follows "About Bramble" (where "Check for Updates..."
    // belongs), after the items added there before.
    void addAfterAbout(QAction *action);
    // Puts an item in the section just above "Quit Bramble" (where "Settings…" belongs).
    void addBeforeQuit(QAction *action);

    // Shows the window, brings it out of the Dock/minimised state and in front of others.
    void bringToFront();

    // A line under the list, shown while saving keeps failing.
    QLabel *saveProblemLabel() const { return m_saveProblem; }
    // A lasting line under the list, shown whenever the widget is visible.
    void addStatusWidget(QWidget *widget);
    // A passing message under the list (what happened at start-up, for instance).
    void showNotice(const QString &text);

Q_SIGNALS:
    void quitRequested();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showAbout();
    void showSaveProblem(const QString &problem);
    void updateStatusBar();
    void updateTitle();

    ContentView *m_contentView;
    QMenu *m_applicationMenu;
    QAction *m_aboutAction;
    QAction *m_afterAboutSeparator;
    QAction *m_beforeQuitSeparator;
    QAction *m_quitAction;
    WindowMenu *m_windowMenu = nullptr;
    QLabel *m_saveProblem;
    QList<QWidget *> m_statusWidgets;
    QMetaObject::Connection m_titleSource;
};
