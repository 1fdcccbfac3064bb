#include "ui/SettingsWindow.h"

#include <QEvent>
#include <QKeySequence>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace {

// The room every tab's page gets: the same for all of them, known once the window is laid out.
QSize pageRoom(QTabWidget *tabs)
{
    auto *stack = tabs->findChild<QStackedWidget *>();
    return stack ? stack->size() : QSize();
}

void fit(QWidget *settings, QPointer<QWidget> anchor)
{
    QSize grow(0, 0);
    for (QTabWidget *tabs : settings->findChildren<QTabWidget *>()) {
        const QSize room = pageRoom(tabs);
        for (int i = 0; i < tabs->count(); ++i) {
            QWidget *page = tabs->widget(i);
            if (auto *area = qobject_cast<QScrollArea *>(page); area && area->widget())
                page = area->widget();
            const QSize wanted = page->sizeHint().expandedTo(page->minimumSizeHint());
            grow = grow.expandedTo(wanted - room);
        }
    }
    QSize size = settings->size() + grow.expandedTo(QSize(0, 0));
    size = size.expandedTo(QSize(SettingsWindow::minimumWidth, SettingsWindow::minimumHeight));
    if (const QScreen *screen = settings->screen())
        size = size.boundedTo(screen->availableGeometry().size());
    settings->resize(size);
    if (anchor && anchor->isVisible()) {
        // move() places the frame, which the window manager adds around the content.
        const QSize decoration = settings->frameGeometry().size() - settings->geometry().size();
        QRect frame(QPoint(0, 0), size + decoration);
        frame.moveCenter(anchor->frameGeometry().center());
        settings->move(frame.topLeft());
    }
}

class ShowWatcher : public QObject
{
public:
    ShowWatcher(QWidget *settings, QWidget *anchor)
        : QObject(settings)
        , m_settings(settings)
        , m_anchor(anchor)
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_settings && event->type() == QEvent::Show && !m_fitted) {
            m_fitted = true;
            // Once the layout has given the pages their room.
            QTimer::singleShot(
                0, m_settings, [settings = m_settings, anchor = m_anchor] { fit(settings, anchor); });
        }
        return false;
    }

private:
    QWidget *m_settings;
    QPointer<QWidget> m_anchor;
    bool m_fitted = false;
};

} // namespace

void SettingsWindow::prepare(QWidget *settings, QWidget *anchor)
{
    settings->setMinimumSize(minimumWidth, minimumHeight);
    settings->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    for (const QKeySequence &keys : { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W) }) {
        auto *shortcut = new QShortcut(keys, settings);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, settings, &QWidget::close);
    }
    settings->installEventFilter(new ShowWatcher(settings, anchor));
}
