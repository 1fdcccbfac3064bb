#include "UpdateDialogs.h"

#include "Alerts.h"
#include "LinkOpener.h"
#include "Symbols.h"
#include "update/ByteCountFormatter.h"
#include "update/ReleaseNotes.h"
#include "update/UpdaterViewModel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <memory>

namespace {
// Loads nothing, whatever the text names. Qt would otherwise read files named by images
// and style sheets on the main thread, from a FIFO or /dev/zero as readily as from a picture.
class OfflineDocument : public QTextDocument
{
public:
    explicit OfflineDocument(QObject *parent)
        : QTextDocument(parent)
    {
        setResourceProvider([](const QUrl &) { return QVariant(); });
    }

protected:
    QVariant loadResource(int, const QUrl &) override { return QVariant(); }
};

class ReleaseNotesBrowser : public QTextBrowser
{
public:
    explicit ReleaseNotesBrowser(QWidget *parent)
        : QTextBrowser(parent)
    {
        setDocument(new OfflineDocument(this));
        setOpenLinks(false);
        setOpenExternalLinks(false);
        // Web addresses go to the browser; anything else is ignored.
        connect(this, &QTextBrowser::anchorClicked, this,
            [](const QUrl &url) { LinkOpener::openLink(url.toString(QUrl::FullyEncoded)); });
    }

    QVariant loadResource(int, const QUrl &) override { return QVariant(); }
};
} // namespace

UpdateDialogs::UpdateDialogs(UpdaterViewModel *model, QWidget *parent)
    : QObject(parent)
    , m_model(model)
    , m_parent(parent)
{ }

UpdateDialogs::~UpdateDialogs()
{
    closeAll();
}

void UpdateDialogs::closeAll()
{
    for (QWidget *window : { static_cast<QWidget *>(m_found.data()),
             static_cast<QWidget *>(m_progress.data()), static_cast<QWidget *>(m_message.data()) }) {
        if (window) {
            window->hide();
            window->deleteLater();
        }
    }
}

void UpdateDialogs::showUpdateFound(const AppcastItem &item, std::function<void(Choice)> reply)
{
    closeAll();
    auto *dialog = new QDialog(m_parent);
    dialog->setObjectName(QStringLiteral("updateFoundDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Software Update"));
    auto *layout = new QVBoxLayout(dialog);

    auto *header = new QHBoxLayout;
    auto *icon = new QLabel(dialog);
    icon->setPixmap(Symbols::applicationIcon().pixmap(48, 48));
    header->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    auto *title = new QLabel(QStringLiteral("<b>A new version of Bramble is available!</b>"), dialog);
    const QString current = m_model ? m_model->currentVersion() : QStringLiteral("Unknown");
    auto *subtitle = new QLabel(QStringLiteral("Bramble %1 is now available - you have %2. Would you like to "
                                               "install it now?")
                                    .arg(item.displayVersionString, current),
        dialog);
    // The version comes from the unsigned feed: never let it be read as markup.
    subtitle->setTextFormat(Qt::PlainText);
    subtitle->setObjectName(QStringLiteral("updateFoundSummary"));
    subtitle->setWordWrap(true);
    texts->addWidget(title);
    texts->addWidget(subtitle);
    header->addLayout(texts, 1);
    layout->addLayout(header);

    auto *notesHeading = new QLabel(QStringLiteral("<b>Release Notes:</b>"), dialog);
    layout->addWidget(notesHeading);
    auto *notes = new ReleaseNotesBrowser(dialog);
    notes->setObjectName(QStringLiteral("releaseNotes"));
    const QString html = ReleaseNotes::safeHtml(item.itemDescription.value_or(QString()));
    if (html.isEmpty())
        notes->setPlainText(QStringLiteral("No release notes."));
    else
        notes->setHtml(html);
    notes->setMinimumSize(420, 180);
    layout->addWidget(notes, 1);

    auto *size = new QLabel(QStringLiteral("Size: ") + formatByteCount(qint64(item.contentLength)), dialog);
    size->setObjectName(QStringLiteral("updateSize"));
    layout->addWidget(size);

    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *skip
        = buttons->addButton(QStringLiteral("Skip This Version"), QDialogButtonBox::DestructiveRole);
    QPushButton *later = buttons->addButton(QStringLiteral("Later"), QDialogButtonBox::RejectRole);
    QPushButton *install = buttons->addButton(QStringLiteral("Install"), QDialogButtonBox::AcceptRole);
    skip->setObjectName(QStringLiteral("skipButton"));
    later->setObjectName(QStringLiteral("laterButton"));
    install->setObjectName(QStringLiteral("installButton"));
    install->setDefault(true);
    layout->addWidget(buttons);

    // Exactly one answer, whichever way the window goes away.
    auto answered = std::make_shared<bool>(false);
    const auto answer = [reply, answered](Choice choice) {
        if (*answered)
            return;
        *answered = true;
        reply(choice);
    };
    connect(install, &QPushButton::clicked, dialog, [dialog, answer] {
        dialog->hide();
        answer(Choice::Install);
        dialog->close();
    });
    connect(skip, &QPushButton::clicked, dialog, [dialog, answer] {
        answer(Choice::SkipThisVersion);
        dialog->close();
    });
    connect(later, &QPushButton::clicked, dialog, [dialog, answer] {
        answer(Choice::Later);
        dialog->close();
    });
    connect(dialog, &QDialog::finished, dialog, [answer] { answer(Choice::Later); });
    connect(dialog, &QObject::destroyed, this, [answer] { answer(Choice::Later); });
    m_found = dialog;
    dialog->open();
}

void UpdateDialogs::showDownloadStarted(std::function<void()> cancel)
{
    closeAll();
    auto *dialog = new QDialog(m_parent);
    dialog->setObjectName(QStringLiteral("updateProgressDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Updating Bramble"));
    auto *layout = new QVBoxLayout(dialog);
    auto *label = new QLabel(QStringLiteral("Downloading update..."), dialog);
    label->setObjectName(QStringLiteral("progressLabel"));
    layout->addWidget(label);
    auto *bar = new QProgressBar(dialog);
    bar->setRange(0, 0);
    bar->setMinimumWidth(360);
    layout->addWidget(bar);
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *cancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    layout->addWidget(buttons);
    connect(cancelButton, &QPushButton::clicked, dialog, [cancel, cancelButton, label] {
        cancelButton->setEnabled(false);
        label->setText(QStringLiteral("Cancelling..."));
        if (cancel)
            cancel();
    });
    m_progress = dialog;
    m_bar = bar;
    m_progressLabel = label;
    m_cancel = cancelButton;
    dialog->open();
}

void UpdateDialogs::showDownloadProgress(qint64 received, qint64 expected)
{
    if (!m_bar || !m_progressLabel)
        return;
    if (expected > 0) {
        // Per mille keeps the range inside int for any size.
        m_bar->setRange(0, 1000);
        m_bar->setValue(int(std::min<qint64>(1000, received * 1000 / expected)));
        m_progressLabel->setText(QStringLiteral("Downloading update... %1 of %2")
                                     .arg(formatByteCount(received), formatByteCount(expected)));
    } else {
        m_progressLabel->setText(QStringLiteral("Downloading update... %1").arg(formatByteCount(received)));
    }
}

void UpdateDialogs::showInstalling()
{
    if (!m_progress) {
        showDownloadStarted({});
    }
    if (m_progressLabel)
        m_progressLabel->setText(QStringLiteral("Installing update..."));
    if (m_bar)
        m_bar->setRange(0, 0);
    if (m_cancel)
        m_cancel->setEnabled(false);
}

void UpdateDialogs::showMessage(
    const QString &title, const QString &text, const QString &informative, bool warning)
{
    closeAll();
    auto *box = new QMessageBox(
        warning ? QMessageBox::Warning : QMessageBox::Information, title, text, QMessageBox::Ok, m_parent);
    box->setObjectName(QStringLiteral("updateMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(informative);
    Alerts::makePlain(box);
    box->setIconPixmap(Symbols::applicationIcon().pixmap(48, 48));
    m_message = box;
    box->open();
}

void UpdateDialogs::showUpToDate()
{
    const QString version = m_model ? m_model->currentVersion() : QStringLiteral("Unknown");
    showMessage(QStringLiteral("Software Update"), QStringLiteral("You're up to date!"),
        QStringLiteral("Bramble %1 is currently the newest version available.").arg(version), false);
}

void UpdateDialogs::showUpdateFailed()
{
    QString description = QStringLiteral("The update could not be completed.");
    QString recovery;
    if (m_model && m_model->updateError()) {
        description = m_model->updateError()->localizedDescription();
        recovery = m_model->updateError()->recoverySuggestion();
    }
    showMessage(QStringLiteral("Update Error"), description, recovery, true);
}

void UpdateDialogs::dismiss()
{
    closeAll();
}
