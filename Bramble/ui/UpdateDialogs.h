#pragma once

#include "update/framework/Updater.h"

#include <QObject>
#include <QPointer>

class QDialog;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QWidget;
class UpdaterViewModel;

// The update windows: update found, download progress, up to date and failure. None of them
// is modal-blocking; answers travel back through the callbacks the updater gave.
class UpdateDialogs : public QObject, public UpdateUserDriver
{
    Q_OBJECT

public:
    // parent may be null; the dialogs are then top-level windows.
    UpdateDialogs(UpdaterViewModel *model, QWidget *parent = nullptr);
    ~UpdateDialogs() override;

    void showUpdateFound(const AppcastItem &item, std::function<void(Choice)> reply) override;
    void showDownloadStarted(std::function<void()> cancel) override;
    void showDownloadProgress(qint64 received, qint64 expected) override;
    void showInstalling() override;
    void showUpToDate() override;
    void showUpdateFailed() override;
    void dismiss() override;

    // The window on screen, if any (for tests and for raising it again).
    QDialog *updateFoundDialog() const { return m_found; }
    QDialog *progressDialog() const { return m_progress; }
    QMessageBox *messageBox() const { return m_message; }

private:
    void closeAll();
    void showMessage(const QString &title, const QString &text, const QString &informative, bool warning);

    UpdaterViewModel *m_model = nullptr;
    QPointer<QWidget> m_parent;
    QPointer<QDialog> m_found;
    QPointer<QDialog> m_progress;
    QPointer<QProgressBar> m_bar;
    QPointer<QLabel> m_progressLabel;
    QPointer<QPushButton> m_cancel;
    QPointer<QMessageBox> m_message;
};
