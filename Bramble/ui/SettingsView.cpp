#include "SettingsView.h"

#include "BrowserImportDialog.h"
#include "Symbols.h"
#include "exchange/DataExchange.h"
#include "exchange/NetscapeBookmarkWriter.h"
#include "platform/LoginItem.h"
#include "ui/Alerts.h"

#include <QCheckBox>
#include <QCoroTask>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace {
const QString jsonFilter = QStringLiteral("JSON (*.json)");
const QString bookmarkFilesFilter
    = QStringLiteral("书签文件 (*.json *.html *.htm *.sqlite Bookmarks bookmarks*.json)");
const QString allFilesFilter = QStringLiteral("所有文件 (*)");
const QString lastFolderKey = QStringLiteral("lastFileFolder");

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Bramble/Bramble.conf");
}

bool isHtmlName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("html") || suffix == QLatin1String("htm");
}
} // namespace

SettingsView::SettingsView(ModelContext *context, DataExchange *exchange, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_exchange(exchange)
{
    setFixedSize(320, 330);
    m_tabs = new QTabWidget(this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_tabs);

    auto *general = new QWidget;
    auto *layout = new QVBoxLayout(general);

    auto *generalSection = new QGroupBox(QStringLiteral("General"));
    auto *generalLayout = new QVBoxLayout(generalSection);
    m_launchSwitch = new QCheckBox(QStringLiteral("Launch at Login"));
    generalLayout->addWidget(m_launchSwitch);
    connect(m_launchSwitch, &QCheckBox::toggled, this, &SettingsView::setLaunchAtLogin);
    layout->addWidget(generalSection);

    auto *dataSection = new QGroupBox(QStringLiteral("Data Management"));
    auto *dataLayout = new QVBoxLayout(dataSection);
    m_exportButton = new QPushButton(QStringLiteral("Export Data"));
    m_importButton = new QPushButton(QStringLiteral("Import Data"));
    m_browserImportButton = new QPushButton(QStringLiteral("从浏览器导入…"));
    m_skipExistingSwitch = new QCheckBox(QStringLiteral("导入时跳过已有的链接"));
    m_skipExistingSwitch->setToolTip(QStringLiteral("跳过资料库中已有的链接，以及文件中重复出现的链接"));
    dataLayout->addWidget(m_exportButton);
    dataLayout->addWidget(m_importButton);
    dataLayout->addWidget(m_browserImportButton);
    dataLayout->addWidget(m_skipExistingSwitch);
    auto *footer = new QLabel(QStringLiteral("Export all your groups and links to a JSON file."));
    footer->setWordWrap(true);
    footer->setForegroundRole(QPalette::PlaceholderText);
    dataLayout->addWidget(footer);
    layout->addWidget(dataSection);
    layout->addStretch();
    connect(m_exportButton, &QPushButton::clicked, this, &SettingsView::exportAll);
    connect(m_importButton, &QPushButton::clicked, this, &SettingsView::showImporter);
    connect(m_browserImportButton, &QPushButton::clicked, this, &SettingsView::showBrowserImporter);

    m_tabs->addTab(general, Symbols::icon(QStringLiteral("gear")), QStringLiteral("General"));

    // The sheet covers the window while records are created, so no second import can start.
    m_progressSheet = new QDialog(this);
    m_progressSheet->setWindowModality(Qt::WindowModal);
    m_progressSheet->setWindowTitle(QStringLiteral("Importing..."));
    auto *sheetLayout = new QVBoxLayout(m_progressSheet);
    sheetLayout->setContentsMargins(40, 40, 40, 40);
    sheetLayout->setSpacing(20);
    auto *sheetTitle = new QLabel(QStringLiteral("Importing..."));
    sheetTitle->setAlignment(Qt::AlignCenter);
    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedWidth(200);
    m_progressText = new QLabel(QStringLiteral("0%"));
    m_progressText->setAlignment(Qt::AlignCenter);
    QFont caption = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    caption.setPointSizeF(font().pointSizeF() * 0.85);
    m_progressText->setFont(caption);
    sheetLayout->addWidget(sheetTitle);
    sheetLayout->addWidget(m_progressBar, 0, Qt::AlignCenter);
    sheetLayout->addWidget(m_progressText);
    // Closing it by hand would let a second import start underneath.
    m_progressSheet->setWindowFlag(Qt::WindowCloseButtonHint, false);

    if (m_exchange) {
        connect(m_exchange, &DataExchange::importProgressChanged, this, &SettingsView::setImportProgress);
    }
}

SettingsView::~SettingsView() = default;

void SettingsView::setUpdatesContent(QWidget *content)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *section = new QGroupBox(QStringLiteral("Update Settings"));
    auto *sectionLayout = new QVBoxLayout(section);
    sectionLayout->setContentsMargins(0, 0, 0, 0);
    sectionLayout->addWidget(content);
    layout->addWidget(section);
    layout->addStretch();
    // The window has a fixed size; rather than squeeze the rows, let the page scroll.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);
    m_tabs->addTab(scroll, Symbols::icon(QStringLiteral("arrow.down.circle")), QStringLiteral("Updates"));
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshLaunchAtLogin();
}

void SettingsView::refreshLaunchAtLogin()
{
    const bool enabled = LoginItem::isEnabled();
    m_launchAtLogin = enabled;
    const QSignalBlocker block(m_launchSwitch);
    m_launchSwitch->setChecked(enabled);
}

void SettingsView::setLaunchAtLogin(bool on)
{
    m_launchAtLogin = on;
    if (m_launchSwitch->isChecked() != on) {
        const QSignalBlocker block(m_launchSwitch);
        m_launchSwitch->setChecked(on);
    }
    const bool enabled = LoginItem::isEnabled();
    if (on == enabled)
        return;
    QString error;
    const bool ok = on ? LoginItem::enable(&error) : LoginItem::disable(&error);
    if (!ok) {
        std::printf("Failed to update launch at login: %s\n", qPrintable(error));
        std::fflush(stdout);
        refreshLaunchAtLogin();
    }
}

QString SettingsView::panelFolder()
{
    const QString remembered
        = QSettings(settingsPath(), QSettings::IniFormat).value(lastFolderKey).toString();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    return QDir::homePath();
}

void SettingsView::rememberFolder(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (folder.isEmpty())
        return;
    QSettings(settingsPath(), QSettings::IniFormat).setValue(lastFolderKey, folder);
}

void SettingsView::exportAll()
{
    if (!m_exchange)
        return;
    m_exportDocument = m_exchange->exportDocument();
    // The folder and the name are set apart: a folder that does not exist would otherwise land
    // in the name field.
    auto *panel = new QFileDialog(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setNameFilters({ jsonFilter, NetscapeBookmarkWriter::nameFilter() });
    panel->setDirectory(panelFolder());
    panel->setDefaultSuffix(QStringLiteral("json"));
    panel->selectFile(QStringLiteral("Bramble_Backup.json"));
    connect(panel, &QFileDialog::filterSelected, panel, [panel](const QString &filter) {
        const bool html = filter == NetscapeBookmarkWriter::nameFilter();
        panel->setDefaultSuffix(html ? QStringLiteral("html") : QStringLiteral("json"));
        panel->selectFile(
            QString::fromLatin1(html ? NetscapeBookmarkWriter::defaultFileName : "Bramble_Backup.json"));
    });
    connect(panel, &QFileDialog::fileSelected, this, [this, panel](const QString &path) {
        const bool html
            = panel->selectedNameFilter() == NetscapeBookmarkWriter::nameFilter() || isHtmlName(path);
        exportTo(path, html ? ExportFormat::Html : ExportFormat::Json);
    });
    m_filePanel = panel;
    panel->open();
}

void SettingsView::exportTo(const QString &path, ExportFormat format)
{
    if (!m_exchange || path.isEmpty())
        return;
    rememberFolder(path);
    QPointer<SettingsView> self = this;
    QCoro::Task<ExportResult> writing = format == ExportFormat::Html
        ? m_exchange->exportData(path, ExportFormat::Html)
        : m_exchange->writeDocument(
            m_exportDocument ? *m_exportDocument : m_exchange->exportDocument(), path);
    std::move(writing).then([self, path](const ExportResult &result) {
        if (!self)
            return;
        if (result.ok)
            self->showAlert(true, QStringLiteral("Export Successful"),
                QStringLiteral("已保存到 “%1”。").arg(QFileInfo(path).fileName()));
        else
            self->showAlert(false, QStringLiteral("Export Failed"),
                result.error.isEmpty() ? QStringLiteral("Unknown error") : result.error);
        Q_EMIT self->exportFinished(result.ok);
    });
}

void SettingsView::showImporter()
{
    if (m_isImporting)
        return;
    auto *panel = new QFileDialog(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setFileMode(QFileDialog::ExistingFile);
    // The format is told from the content; the filters only help to find the file.
    panel->setNameFilters({ bookmarkFilesFilter, jsonFilter, allFilesFilter });
    panel->setDirectory(panelFolder());
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        if (files.isEmpty())
            return;
        rememberFolder(files.first());
        importFrom(files.first());
    });
    m_filePanel = panel;
    panel->open();
}

BrowserImportDialog *SettingsView::browserImporter() const
{
    return m_browserImporter;
}

void SettingsView::showBrowserImporter()
{
    if (m_isImporting)
        return;
    if (m_browserImporter) {
        m_browserImporter->raise();
        return;
    }
    auto *dialog = new BrowserImportDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &BrowserImportDialog::importChosen, this, [this](const QString &path, bool skipExisting) {
        ImportOptions options;
        options.skipExisting = skipExisting;
        importFrom(path, options);
    });
    m_browserImporter = dialog;
    dialog->open();
    dialog->findProfiles();
}

void SettingsView::importFrom(const QString &path)
{
    ImportOptions options;
    options.skipExisting = m_skipExistingSwitch->isChecked();
    importFrom(path, options);
}

void SettingsView::importFrom(const QString &path, ImportOptions options)
{
    if (!m_exchange || m_isImporting)
        return;
    m_importError.reset();
    m_importNotes.clear();
    setImportProgress(0);
    setImporting(true);
    QPointer<SettingsView> self = this;
    m_exchange->importData(path, options).then([self](const ImportResult &result) {
        if (!self)
            return;
        if (!result.ok)
            self->m_importError
                = result.error.isEmpty() ? std::nullopt : std::optional<QString>(result.error);
        else
            self->m_importNotes = result.notes();
        self->setImporting(false);
        self->showResult(result.ok);
        Q_EMIT self->importFinished(result.ok);
    });
}

void SettingsView::setImporting(bool importing)
{
    m_isImporting = importing;
    m_importButton->setEnabled(!importing);
    if (importing)
        m_progressSheet->open();
    else
        m_progressSheet->hide();
}

void SettingsView::setImportProgress(double progress)
{
    m_importProgress = progress;
    m_progressBar->setValue(int(std::lround(progress * 1000)));
    m_progressText->setText(QString::number(int(progress * 100)) + QLatin1Char('%'));
}

void SettingsView::showResult(bool ok)
{
    if (ok)
        showAlert(true, QStringLiteral("Import Successful"), m_importNotes.join(QLatin1Char('\n')));
    else
        showAlert(
            false, QStringLiteral("Import Failed"), m_importError.value_or(QStringLiteral("Unknown error")));
}

void SettingsView::showAlert(bool ok, const QString &title, const QString &text)
{
    if (m_resultAlert)
        m_resultAlert->close();
    auto *alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(ok ? QMessageBox::Information : QMessageBox::Warning);
    alert->setText(title);
    if (!text.isEmpty())
        alert->setInformativeText(text);
    // The decoder quotes the file, which may hold anything.
    Alerts::makePlain(alert);
    alert->setStandardButtons(QMessageBox::Ok);
    m_resultAlert = alert;
    alert->open();
}
