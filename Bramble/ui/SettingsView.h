#pragma once

#include "exchange/DataExchange.h"
#include "exchange/JSONDocument.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <optional>

class BrowserImportDialog;
class ModelContext;
class QCheckBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

// The settings window's content: "General" (launch at login, export and import) and, when
// given, "Updates". Presents the file panels, the import progress sheet and the result alerts
// without blocking the event loop.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    SettingsView(ModelContext *context, DataExchange *exchange, QWidget *parent = nullptr);
    ~SettingsView() override;

    // Hosts the update settings in an "Updates" tab.
    void setUpdatesContent(QWidget *content);

    bool launchAtLogin() const { return m_launchAtLogin; }
    // The switch: registers or unregisters the login item and shows the real state on failure.
    void setLaunchAtLogin(bool on);

    // Builds the document and shows the save panel, which offers JSON and browser HTML.
    void exportAll();
    // What the save panel does once a file is chosen; the result is shown in an alert.
    void exportTo(const QString &path, ExportFormat format = ExportFormat::Json);
    // Shows the open panel.
    void showImporter();
    // Imports with the options of the section's switch unless given others.
    void importFrom(const QString &path);
    void importFrom(const QString &path, ImportOptions options);
    // Shows the list of the browsers' profiles to import from.
    void showBrowserImporter();

    // The folder the file panels open in: the last one used, else the home folder.
    static QString panelFolder();
    // Remembers the folder of path in Bramble.conf for the next panel.
    static void rememberFolder(const QString &path);

    bool isImporting() const { return m_isImporting; }
    double importProgress() const { return m_importProgress; }
    std::optional<QString> importError() const { return m_importError; }
    const std::optional<JSONDocument> &exportDocument() const { return m_exportDocument; }

    QTabWidget *tabs() const { return m_tabs; }
    QCheckBox *launchAtLoginSwitch() const { return m_launchSwitch; }
    QPushButton *exportButton() const { return m_exportButton; }
    QPushButton *importButton() const { return m_importButton; }
    QPushButton *browserImportButton() const { return m_browserImportButton; }
    QCheckBox *skipExistingSwitch() const { return m_skipExistingSwitch; }
    // The browser import dialog, while it is open.
    BrowserImportDialog *browserImporter() const;
    QDialog *progressSheet() const { return m_progressSheet; }
    QLabel *progressText() const { return m_progressText; }
    QProgressBar *progressBar() const { return m_progressBar; }
    // The last alert shown ("Import Successful" / "Import Failed", "Export Successful" /
    // "Export Failed"), while it is open.
    QMessageBox *resultAlert() const { return m_resultAlert; }
    QFileDialog *filePanel() const { return m_filePanel; }

Q_SIGNALS:
    void importFinished(bool ok);
    void exportFinished(bool ok);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refreshLaunchAtLogin();
    void setImporting(bool importing);
    void setImportProgress(double progress);
    void showResult(bool ok);
    void showAlert(bool ok, const QString &title, const QString &text);

    ModelContext *m_context;
    QPointer<DataExchange> m_exchange;
    bool m_launchAtLogin = false;
    bool m_isImporting = false;
    double m_importProgress = 0;
    std::optional<QString> m_importError;
    QStringList m_importNotes;
    std::optional<JSONDocument> m_exportDocument;

    QTabWidget *m_tabs;
    QCheckBox *m_launchSwitch;
    QPushButton *m_exportButton;
    QPushButton *m_importButton;
    QPushButton *m_browserImportButton;
    QCheckBox *m_skipExistingSwitch;
    QPointer<BrowserImportDialog> m_browserImporter;
    QDialog *m_progressSheet;
    QProgressBar *m_progressBar;
    QLabel *m_progressText;
    QPointer<QMessageBox> m_resultAlert;
    QPointer<QFileDialog> m_filePanel;
};
