#include "GroupsMenuBarView.h"

#include "Symbols.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/ModelContext.h"
#include "ui/Alerts.h"
#include "ui/OpenAllAlert.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cstdio>

GroupsMenuBarView::GroupsMenuBarView(ModelContext *context, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_menu(new QMenu)
{
    connect(m_menu, &QMenu::aboutToShow, this, &GroupsMenuBarView::rebuild);
    const auto changed = [this] { scheduleRebuild(); };
    connect(context, &ModelContext::groupInserted, this, changed);
    connect(context, &ModelContext::groupRemoved, this, changed);
    connect(context, &ModelContext::groupFieldsChanged, this, changed);
    connect(context, &ModelContext::itemInserted, this, changed);
    connect(context, &ModelContext::itemRemoved, this, changed);
    connect(context, &ModelContext::itemFieldsChanged, this, [this](BookmarkItem *, int fields) {
        if (fields & BookmarkItem::GroupField)
            scheduleRebuild();
    });
    rebuild();
}

GroupsMenuBarView::~GroupsMenuBarView()
{
    delete m_openAllAlert;
    delete m_tray;
    delete m_menu;
}

void GroupsMenuBarView::setOpener(Opener opener)
{
    m_opener = std::move(opener);
}

void GroupsMenuBarView::setCheckForUpdatesAction(QAction *action)
{
    m_checkForUpdates = action;
    rebuild();
}

void GroupsMenuBarView::setTrayAvailability(std::function<bool()> available)
{
    m_trayAvailable = std::move(available);
}

bool GroupsMenuBarView::isInTray() const
{
    return m_tray && m_tray->isVisible();
}

void GroupsMenuBarView::show()
{
    const bool available = m_trayAvailable ? m_trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (!available) {
        std::printf("No system tray is available; the Bramble tray menu is not shown.\n");
        std::fflush(stdout);
        return;
    }
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(Symbols::trayIcon());
        m_tray->setToolTip(QStringLiteral("Bramble"));
        m_tray->setContextMenu(m_menu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            // The right click opens the menu by itself; the left one would do nothing.
            if (reason == QSystemTrayIcon::Trigger) {
                const QRect icon = m_tray->geometry();
                m_menu->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
            }
        });
    }
    m_tray->show();
}

void GroupsMenuBarView::scheduleRebuild()
{
    // A large import changes thousands of links in one go; rebuild once afterwards.
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QMetaObject::invokeMethod(this, &GroupsMenuBarView::rebuild, Qt::QueuedConnection);
}

void GroupsMenuBarView::rebuild()
{
    m_rebuildPending = false;
    m_menu->clear();
    // A heading, not a command: it must not light up under the pointer.
    QAction *title = m_menu->addAction(QStringLiteral("Bramble Groups"));
    title->setObjectName(QStringLiteral("trayHeading"));
    title->setEnabled(false);
    m_menu->addSeparator();

    QList<BookmarkGroup *> groups = m_context->groups();
    std::stable_sort(groups.begin(), groups.end(),
        [](const BookmarkGroup *a, const BookmarkGroup *b) { return a->createdAt() < b->createdAt(); });
    if (groups.isEmpty()) {
        m_menu->addAction(QStringLiteral("暂无分组"))->setEnabled(false);
    } else {
        const QIcon folder = Symbols::icon(QStringLiteral("folder"));
        for (BookmarkGroup *group : std::as_const(groups)) {
            const QString text = QStringLiteral("%1 (%2)").arg(group->name()).arg(group->bookmarks().size());
            // A name may hold '&', which a menu would read as a mnemonic.
            QAction *action
                = m_menu->addAction(folder, QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
            QPointer<BookmarkGroup> target = group;
            connect(action, &QAction::triggered, this, [this, target] {
                if (target && !target->isDeleted())
                    openAllLinks(target);
            });
        }
    }
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("显示 Bramble")), &QAction::triggered, this,
        &GroupsMenuBarView::showWindowRequested);
    connect(m_menu->addAction(QStringLiteral("搜索…")), &QAction::triggered, this,
        &GroupsMenuBarView::searchRequested);
    connect(m_menu->addAction(QStringLiteral("设置")), &QAction::triggered, this,
        &GroupsMenuBarView::settingsRequested);
    if (m_checkForUpdates)
        m_menu->addAction(m_checkForUpdates);
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit Bramble"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &GroupsMenuBarView::quitRequested);
}

void GroupsMenuBarView::openAllLinks(BookmarkGroup *group)
{
    if (!group || !m_opener)
        return;
    const qsizetype count = group->bookmarks().size();
    if (count <= OpenAllAlert::trayAsksAbove) {
        openNow(group);
        return;
    }
    // One misclick on a large group must not open hundreds of tabs: the list's own question.
    delete m_openAllAlert;
    m_openAllAlert = new OpenAllAlert;
    m_openAllAlert->setAttribute(Qt::WA_DeleteOnClose);
    m_openAllAlert->setCount(count);
    const QPointer<BookmarkGroup> target = group;
    connect(m_openAllAlert, &OpenAllAlert::openConfirmed, this, [this, target] {
        if (target && !target->isDeleted())
            openNow(target);
    });
    m_openAllAlert->open();
}

void GroupsMenuBarView::openNow(BookmarkGroup *group)
{
    // The order the list shows.
    const QList<BookmarkItem *> links = BookmarkListModel::ordered(group);
    QStringList refused;
    for (BookmarkItem *link : links) {
        if (!m_opener(link->urlString()))
            refused << link->urlString();
    }
    // The tray has no window of its own to attach the alert to.
    Alerts::cannotOpen(nullptr, refused);
}
