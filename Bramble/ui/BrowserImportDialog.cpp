#include "BrowserImportDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

BrowserImportDialog::BrowserImportDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("从浏览器导入"));
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    m_status = new QLabel;
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);

    m_list = new QTreeWidget;
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({ QStringLiteral("浏览器"), QStringLiteral("配置文件"), QStringLiteral("链接") });
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_list->setMinimumSize(420, 160);
    layout->addWidget(m_list);

    // Browsers repeat links often; a second import of the same profile should add nothing.
    m_skipExisting = new QCheckBox(QStringLiteral("跳过资料库中已有的链接和重复的链接"));
    m_skipExisting->setChecked(true);
    layout->addWidget(m_skipExisting);

    auto *buttons = new QDialogButtonBox;
    m_importButton = buttons->addButton(QStringLiteral("导入"), QDialogButtonBox::AcceptRole);
    m_importButton->setEnabled(false);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &BrowserImportDialog::importSelected);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
        [this] { m_importButton->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &BrowserImportDialog::importSelected);
    connect(&m_watcher, &QFutureWatcher<QList<BrowserProfile>>::finished, this,
        &BrowserImportDialog::showProfiles);
}

// A count still under way when the dialog closes finishes on its own; nobody waits for it.
BrowserImportDialog::~BrowserImportDialog() = default;

QString BrowserImportDialog::linkCountText(int count)
{
    return count < 0 ? QStringLiteral("无法读取") : QStringLiteral("%L1").arg(count);
}

void BrowserImportDialog::findProfiles()
{
    if (m_watcher.isRunning())
        return;
    m_list->clear();
    m_profiles.clear();
    m_importButton->setEnabled(false);
    m_status->setText(QStringLiteral("正在查找浏览器的书签…"));
    // Counting reads every profile's bookmarks, a copy of places.sqlite included.
    m_watcher.setFuture(QtConcurrent::run([] { return BrowserProfiles::find(QString(), true); }));
}

void BrowserImportDialog::showProfiles()
{
    m_profiles = m_watcher.result();
    m_list->clear();
    for (const BrowserProfile &profile : std::as_const(m_profiles)) {
        QString browser = profile.browserName;
        if (!profile.installation.isEmpty())
            browser += QStringLiteral(" (") + profile.installation + QLatin1Char(')');
        QString name = profile.profileName;
        if (profile.isDefault)
            name += QStringLiteral("（默认）");
        auto *row = new QTreeWidgetItem(m_list, { browser, name, linkCountText(profile.linkCount) });
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(1, profile.bookmarksPath);
        // An unreadable profile stays listed, so the user sees it was found.
        if (profile.linkCount < 0)
            row->setFlags(row->flags() & ~Qt::ItemIsEnabled & ~Qt::ItemIsSelectable);
    }
    if (m_profiles.isEmpty()) {
        m_status->setText(
            QStringLiteral("没有找到浏览器的书签：本机上没有 Firefox、Chromium、Google Chrome、Brave、"
                           "Vivaldi 或 Microsoft Edge 的配置文件。"));
    } else {
        m_status->setText(QStringLiteral("选择要导入的配置文件："));
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            if (m_list->topLevelItem(i)->flags() & Qt::ItemIsSelectable) {
                m_list->setCurrentItem(m_list->topLevelItem(i));
                break;
            }
        }
    }
    Q_EMIT profilesFound(int(m_profiles.size()));
}

void BrowserImportDialog::importSelected()
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = m_list->indexOfTopLevelItem(selected.first());
    if (row < 0 || row >= m_profiles.size())
        return;
    const QString path = m_profiles[row].bookmarksPath;
    const bool skip = m_skipExisting->isChecked();
    accept();
    Q_EMIT importChosen(path, skip);
}
