#include "SettingsView.h"

#include "Symbols.h"
#include "exchange/DataExchange.h"
#include "platform/LoginItem.h"
#include "ui/Alerts.h"

#include <QCheckBox>
#include <QCoroTask>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace {
const QString jsonFilter = QStringLiteral("JSON (*.json)");
}

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
    dataLayout->addWidget(m_exportButton);
    dataLayout->addWidget(m_importButton);
    auto *footer = new QLabel(QStringLiteral("Export all your groups and links to a JSON file."));
    footer->setWordWrap(true);
    footer->setForegroundRole(QPalette::PlaceholderText);
    dataLayout->addWidget(footer);
    layout->addWidget(dataSection);
    layout->addStretch();
    connect(m_exportButton, &QPushButton::clicked, this, &SettingsView::exportAll);
    connect(m_importButton, &QPushButton::clicked, this, &SettingsView::showImporter);

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

void SettingsView::exportAll()
{
    if (!m_exchange)
        return;
    m_exportDocument = m_exchange->exportDocument();
    auto *panel = new QFileDialog(
        this, QString(), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), jsonFilter);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setDefaultSuffix(QStringLiteral("json"));
    panel->selectFile(QStringLiteral("Bramble_Backup.json"));
    connect(panel, &QFileDialog::fileSelected, this, &SettingsView::exportTo);
    m_filePanel = panel;
    panel->open();
}

void SettingsView::exportTo(const QString &path)
{
    if (!m_exchange || path.isEmpty())
        return;
    QPointer<SettingsView> self = this;
    JSONDocument document = m_exportDocument ? *m_exportDocument : m_exchange->exportDocument();
    m_exchange->writeDocument(std::move(document), path).then([self](const ExportResult &result) {
        if (self)
            Q_EMIT self->exportFinished(result.ok);
    });
}

void SettingsView::showImporter()
{
    if (m_isImporting)
        return;
    auto *panel = new QFileDialog(
        this, QString(), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), jsonFilter);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setFileMode(QFileDialog::ExistingFile);
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        if (!files.isEmpty())
            importFrom(files.first());
    });
    m_filePanel = panel;
    panel->open();
}

void SettingsView::importFrom(const QString &path)
{
    if (!m_exchange || m_isImporting)
        return;
    m_importError.reset();
    setImportProgress(0);
    setImporting(true);
    QPointer<SettingsView> self = this;
    m_exchange->importData(path).then([self](const ImportResult &result) {
        if (!self)
            return;
        if (!result.ok)
            self->m_importError
                = result.error.isEmpty() ? std::nullopt : std::optional<QString>(result.error);
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
    if (m_resultAlert)
        m_resultAlert->close();
    auto *alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (ok) {
        alert->setIcon(QMessageBox::Information);
        alert->setText(QStringLiteral("Import Successful"));
    } else {
        alert->setIcon(QMessageBox::Warning);
        alert->setText(QStringLiteral("Import Failed"));
        alert->setInformativeText(m_importError.value_or(QStringLiteral("Unknown error")));
    }
    // The decoder quotes the file, which may hold anything.
    Alerts::makePlain(alert);
    alert->setStandardButtons(QMessageBox::Ok);
    m_resultAlert = alert;
    alert->open();
}
