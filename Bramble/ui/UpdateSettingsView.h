#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QProgressBar;
class UpdaterViewModel;

// "Current Version:", "Build Number:" and "Last Check:".
class VersionInfoSection : public QWidget
{
    Q_OBJECT

public:
    explicit VersionInfoSection(UpdaterViewModel *model, QWidget *parent = nullptr);
    void refresh();

private:
    QPointer<UpdaterViewModel> m_model;
    QLabel *m_version = nullptr;
    QLabel *m_build = nullptr;
    QLabel *m_lastCheck = nullptr;
};

// The two automatic-update toggles.
class AutomaticUpdateSection : public QWidget
{
    Q_OBJECT

public:
    explicit AutomaticUpdateSection(UpdaterViewModel *model, QWidget *parent = nullptr);
    void refresh();

private:
    QPointer<UpdaterViewModel> m_model;
    QCheckBox *m_checks = nullptr;
    QCheckBox *m_downloads = nullptr;
    QWidget *m_disabledCaption = nullptr;
};

// Status, "Check for Updates", the last error with "Retry", and the available update.
class ManualUpdateSection : public QWidget
{
    Q_OBJECT

public:
    explicit ManualUpdateSection(UpdaterViewModel *model, QWidget *parent = nullptr);
    void refresh();

private:
    QPointer<UpdaterViewModel> m_model;
    QProgressBar *m_spinner = nullptr;
    QLabel *m_statusIcon = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_notConfigured = nullptr;
    QPushButton *m_check = nullptr;
    QWidget *m_errorBox = nullptr;
    QLabel *m_errorDescription = nullptr;
    QLabel *m_errorRecovery = nullptr;
    QPushButton *m_retry = nullptr;
    QWidget *m_updateBox = nullptr;
    QLabel *m_updateTitle = nullptr;
    QLabel *m_updateDate = nullptr;
    QLabel *m_updateSize = nullptr;
};

// The "Updates" tab of the settings window. Holds no state of its own: it redraws from the
// shared controller whenever that changes.
class UpdateSettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit UpdateSettingsView(UpdaterViewModel *model, QWidget *parent = nullptr);
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;

private:
    VersionInfoSection *m_versionInfo = nullptr;
    AutomaticUpdateSection *m_automatic = nullptr;
    ManualUpdateSection *m_manual = nullptr;
    // "2 minutes ago" goes stale while the tab stays open.
    QTimer m_clock;
};
