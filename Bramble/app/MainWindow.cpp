#include "app/MainWindow.h"

#include "BuildConfig.h"
#include "ui/ContentView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
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
