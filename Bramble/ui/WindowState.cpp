#include "ui/WindowState.h"

#include "model/BookmarkGroup.h"
#include "model/ModelContext.h"
#include "ui/ContentView.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>

WindowState::WindowState(QMainWindow *window, ContentView *content, const QString &settingsPath)
    : QObject(window)
    , m_window(window)
    , m_content(content)
    , m_path(settingsPath)
{
    restore();
    window->installEventFilter(this);
    connect(content, &ContentView::selectedGroupChanged, this, &WindowState::save);
    connect(content->splitter(), &QSplitter::splitterMoved, this, &WindowState::save);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &WindowState::save);
}

void WindowState::restore()
{
    QSettings settings(m_path, QSettings::IniFormat);
    const QByteArray geometry = settings.value(geometryKey).toByteArray();
    if (!geometry.isEmpty())
        m_window->restoreGeometry(geometry);
    bool ok = false;
    const int sidebar = settings.value(sidebarWidthKey).toInt(&ok);
    if (ok && sidebar > 0) {
        QSplitter *splitter = m_content->splitter();
        QList<int> sizes = splitter->sizes();
        const int total = std::max(sizes.value(0) + sizes.value(1), m_window->width());
        // The sidebar's own limits still hold; the detail takes the rest.
        splitter->setSizes({ sidebar, std::max(1, total - sidebar) });
    }
    const qint64 id = settings.value(selectedGroupKey).toLongLong(&ok);
    ModelContext *context = m_content->modelContext();
    BookmarkGroup *group = ok && context ? context->group(id) : nullptr;
    if (group && !group->isDeleted())
        m_content->setSelectedGroup(group);
    m_restored = true;
}

void WindowState::save()
{
    // Not while the window is being taken apart at exit: aboutToQuit has saved by then.
    if (!m_restored || !m_content)
        return;
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(geometryKey, m_window->saveGeometry());
    const QList<int> sizes = m_content->splitter()->sizes();
    if (!sizes.isEmpty() && sizes.first() > 0)
        settings.setValue(sidebarWidthKey, sizes.first());
    if (BookmarkGroup *group = m_content->selectedGroup())
        settings.setValue(selectedGroupKey, group->id());
    else
        settings.remove(selectedGroupKey);
    settings.sync();
}

bool WindowState::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::Close || event->type() == QEvent::Hide))
        save();
    return QObject::eventFilter(watched, event);
}
