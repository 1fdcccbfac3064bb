#pragma once

#include "ui/ContentView.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QMainWindow;

// What the main window remembers across launches, in Bramble.conf: its size and place, the
// sidebar's width and the last group shown. A group that is gone by the next launch leaves
// the welcome screen, as no remembered group does.
class WindowState : public QObject
{
    Q_OBJECT

public:
    static inline const QString geometryKey = QStringLiteral("mainWindowGeometry");
    static inline const QString sidebarWidthKey = QStringLiteral("sidebarWidth");
    static inline const QString selectedGroupKey = QStringLiteral("selectedGroupID");

    // Restores at once, before the window is first shown; saves whenever the window closes or
    // hides, a group is chosen, and when the application quits.
    WindowState(QMainWindow *window, ContentView *content, const QString &settingsPath);

    void restore();
    void save();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMainWindow *m_window;
    QPointer<ContentView> m_content;
    QString m_path;
    bool m_restored = false;
};
