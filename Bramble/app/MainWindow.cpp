#include "app/MainWindow.h"

#include "BuildConfig.h"
#include "model/BookmarkGroup.h"
#include "model/ModelContext.h"
#include "ui/ContentView.h"
#include "ui/WindowMenu.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>

namespace {
constexpr int windowMinimumWidth = 600;
constexpr int windowMinimumHeight = 300;
} // namespace

MainWindow::MainWindow(ModelContext *context, QWidget *parent)
    : QMainWindow(parent)
    , m_contentView(new ContentView(context, this))
    , m_applicationMenu(nullptr)
    , m_aboutAction(nullptr)
    , m_afterAboutSeparator(nullptr)
    , m_beforeQuitSeparator(nullptr)
    , m_quitAction(nullptr)
    , m_saveProblem(new QLabel)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Bramble"));
    setMinimumSize(windowMinimumWidth, windowMinimumHeight);
    resize(900, 600);
    setUnifiedTitleAndToolBarOnMac(true);
    setCentralWidget(m_contentView);
    addToolBar(Qt::TopToolBarArea, m_contentView->toolBar());

    m_applicationMenu = menuBar()->addMenu(QStringLiteral("Bramble"));
    m_applicationMenu->setObjectName(QStringLiteral("applicationMenu"));
    m_aboutAction = m_applicationMenu->addAction(QStringLiteral("About Bramble"));
    m_aboutAction->setObjectName(QStringLiteral("aboutAction"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
    m_afterAboutSeparator = m_applicationMenu->addSeparator();
    m_beforeQuitSeparator = m_applicationMenu->addSeparator();
    m_quitAction = m_applicationMenu->addAction(QStringLiteral("Quit Bramble"));
    m_quitAction->setObjectName(QStringLiteral("quitAction"));
    m_quitAction->setMenuRole(QAction::QuitRole);
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::quitRequested);
    m_afterAboutSeparator->setVisible(false);
    m_beforeQuitSeparator->setVisible(false);
    m_windowMenu = new WindowMenu(m_contentView, this);
    menuBar()->addMenu(m_windowMenu);
    connect(m_contentView, &ContentView::selectedGroupChanged, this, &MainWindow::updateTitle);

    m_saveProblem->setObjectName(QStringLiteral("saveProblem"));
    // The store's message may quote a file name.
    m_saveProblem->setTextFormat(Qt::PlainText);
    QPalette warning = m_saveProblem->palette();
    warning.setColor(QPalette::WindowText, QColor(215, 0, 21));
    m_saveProblem->setPalette(warning);
    m_saveProblem->hide();
    // Permanent, so a passing notice never hides it.
    statusBar()->addPermanentWidget(m_saveProblem, 1);
    connect(statusBar(), &QStatusBar::messageChanged, this, &MainWindow::updateStatusBar);
    if (context) {
        connect(context, &ModelContext::saveProblemChanged, this, &MainWindow::showSaveProblem);
        showSaveProblem(context->saveProblem());
    }
    updateStatusBar();
}

void MainWindow::updateTitle()
{
    // The shown group's name in the title bar, following renames.
    disconnect(m_titleSource);
    BookmarkGroup *group = m_contentView->selectedGroup();
    if (!group) {
        setWindowTitle(QStringLiteral("Bramble"));
        return;
    }
    setWindowTitle(QStringLiteral("%1 — Bramble").arg(group->name()));
    m_titleSource = connect(group, &BookmarkGroup::nameChanged, this, &MainWindow::updateTitle);
}

void MainWindow::showSaveProblem(const QString &problem)
{
    m_saveProblem->setText(problem.isEmpty()
            ? QString()
            : QStringLiteral("无法保存更改：%1。更改仍然保留，Bramble 会继续尝试保存。").arg(problem));
    m_saveProblem->setVisible(!problem.isEmpty());
    updateStatusBar();
}

void MainWindow::showNotice(const QString &text)
{
    statusBar()->showMessage(text, 20000);
    updateStatusBar();
}

bool MainWindow::event(QEvent *event)
{
    // Hover tips would make the line come and go under the pointer, moving the whole window.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void MainWindow::addStatusWidget(QWidget *widget)
{
    statusBar()->addPermanentWidget(widget);
    m_statusWidgets.append(widget);
    widget->installEventFilter(this);
    updateStatusBar();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
        QMetaObject::invokeMethod(this, &MainWindow::updateStatusBar, Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::updateStatusBar()
{
    // The line under the list is there only while it has something to say.
    const bool widgetShown = std::any_of(m_statusWidgets.cbegin(), m_statusWidgets.cend(),
        [](const QWidget *widget) { return !widget->isHidden(); });
    statusBar()->setVisible(
        widgetShown || !m_saveProblem->text().isEmpty() || !statusBar()->currentMessage().isEmpty());
}

void MainWindow::addAfterAbout(QAction *action)
{
    // Items after About go before the separator that closes its section.
    m_applicationMenu->insertAction(m_afterAboutSeparator, action);
    m_afterAboutSeparator->setVisible(true);
}

void MainWindow::addBeforeQuit(QAction *action)
{
    m_applicationMenu->insertAction(m_beforeQuitSeparator, action);
    m_beforeQuitSeparator->setVisible(true);
    m_afterAboutSeparator->setVisible(true);
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::showAbout()
{
    static QPointer<QMessageBox> box;
    if (!box) {
        box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About Bramble"),
            QStringLiteral("<h3>Bramble</h3><p>Version %1 (%2)</p><p>在分组中管理你的网页书签。</p>")
                .arg(QLatin1String(BuildConfig::shortVersion), QLatin1String(BuildConfig::buildNumber)),
            QMessageBox::Ok, this);
        box->setIconPixmap(windowIcon().pixmap(64, 64));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
    }
    box->show();
    box->raise();
    box->activateWindow();
}
