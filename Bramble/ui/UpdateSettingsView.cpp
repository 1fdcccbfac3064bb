#include "UpdateSettingsView.h"

#include "Symbols.h"
#include "platform/AppInfo.h"
#include "update/ByteCountFormatter.h"
#include "update/RelativeDateFormatter.h"
#include "update/UpdaterViewModel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kSectionSpacing = 16;
constexpr int kItemSpacing = 8;

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    label->setFont(font);
    return label;
}

QLabel *secondary(QWidget *parent, const QString &text = QString())
{
    auto *label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel *caption(QWidget *parent, const QString &text = QString())
{
    QLabel *label = secondary(parent, text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

VersionInfoSection::VersionInfoSection(UpdaterViewModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kItemSpacing);
    layout->addWidget(heading(QStringLiteral("Version Information"), this));
    auto *form = new QFormLayout;
    form->setHorizontalSpacing(kItemSpacing);
    form->setVerticalSpacing(kItemSpacing);
    const auto row = [&](const QString &label, QLabel *&value, const char *name) {
        auto *title = new QLabel(label, this);
        QFont font = title->font();
        font.setWeight(QFont::Medium);
        title->setFont(font);
        value = secondary(this);
        value->setObjectName(QLatin1String(name));
        form->addRow(title, value);
    };
    row(QStringLiteral("Current Version:"), m_version, "currentVersionValue");
    row(QStringLiteral("Build Number:"), m_build, "buildNumberValue");
    row(QStringLiteral("Last Check:"), m_lastCheck, "lastCheckValue");
    layout->addLayout(form);
    refresh();
}

void VersionInfoSection::refresh()
{
    if (!m_model)
        return;
    m_version->setText(m_model->currentVersion());
    m_build->setText(
        AppInfo::text(m_model->configuration().infoDictionary, QStringLiteral("CFBundleVersion")));
    const auto &date = m_model->lastUpdateCheckDate();
    m_lastCheck->setText(
        date ? formatRelativeDate(*date, m_model->configuration().now()) : QStringLiteral("Never"));
    if (date)
        m_lastCheck->setToolTip(QLocale().toString(date->toLocalTime(), QLocale::LongFormat));
}

AutomaticUpdateSection::AutomaticUpdateSection(UpdaterViewModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kItemSpacing);
    layout->addWidget(heading(QStringLiteral("Automatic Updates"), this));
    m_checks = new QCheckBox(QStringLiteral("Automatically check for updates"), this);
    m_checks->setObjectName(QStringLiteral("automaticChecksToggle"));
    m_downloads = new QCheckBox(QStringLiteral("Automatically download updates"), this);
    m_downloads->setObjectName(QStringLiteral("automaticDownloadsToggle"));
    layout->addWidget(m_checks);
    layout->addWidget(m_downloads);

    m_disabledCaption = new QWidget(this);
    m_disabledCaption->setObjectName(QStringLiteral("automaticCheckingDisabledCaption"));
    auto *captionLayout = new QHBoxLayout(m_disabledCaption);
    captionLayout->setContentsMargins(0, 0, 0, 0);
    captionLayout->setSpacing(4);
    auto *icon = new QLabel(m_disabledCaption);
    icon->setPixmap(Symbols::icon(
        QStringLiteral("exclamationmark.triangle.fill"), palette().color(QPalette::PlaceholderText))
                        .pixmap(12, 12));
    captionLayout->addWidget(icon, 0, Qt::AlignTop);
    captionLayout->addWidget(
        caption(m_disabledCaption,
            QStringLiteral("Automatic checking is disabled. You can still check for updates "
                           "manually.")),
        1);
    layout->addWidget(m_disabledCaption);

    // Only the user's clicks call the controller; refresh() sets the boxes without signals.
    connect(m_checks, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_model)
            m_model->setAutomaticallyChecks(checked);
    });
    connect(m_downloads, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_model)
            m_model->setAutomaticallyDownloads(checked);
    });
    refresh();
}

void AutomaticUpdateSection::refresh()
{
    if (!m_model)
        return;
    m_checks->setChecked(m_model->automaticallyChecksForUpdates());
    m_downloads->setChecked(m_model->automaticallyDownloadsUpdates());
    // Without a feed the toggles would promise checks that never come.
    m_checks->setEnabled(m_model->updatesConfigured());
    m_downloads->setEnabled(m_model->updatesConfigured());
    m_disabledCaption->setVisible(!m_model->automaticallyChecksForUpdates());
}

ManualUpdateSection::ManualUpdateSection(UpdaterViewModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kItemSpacing);
    layout->addWidget(heading(QStringLiteral("Manual Updates"), this));

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(kItemSpacing);
    m_spinner = new QProgressBar(this);
    m_spinner->setObjectName(QStringLiteral("checkingIndicator"));
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedSize(48, 10);
    m_statusIcon = new QLabel(this);
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusIcon->setFixedSize(14, 14);
    m_status = secondary(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setWordWrap(true);
    statusRow->addWidget(m_spinner);
    statusRow->addWidget(m_statusIcon);
    statusRow->addWidget(m_status, 1);
    layout->addLayout(statusRow);

    m_notConfigured = caption(this,
        QStringLiteral("这个版本的 Bramble 没有配置更新源：它由安装它的软件包管理器更新，或者不会更新。"));
    m_notConfigured->setObjectName(QStringLiteral("updatesNotConfiguredNotice"));
    layout->addWidget(m_notConfigured);

    m_check = new QPushButton(QStringLiteral("Check for Updates"), this);
    m_check->setObjectName(QStringLiteral("checkForUpdatesButton"));
    layout->addWidget(m_check, 0, Qt::AlignLeft);
    connect(m_check, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->checkForUpdates();
    });

    m_errorBox = new QWidget(this);
    m_errorBox->setObjectName(QStringLiteral("errorBox"));
    auto *errorLayout = new QVBoxLayout(m_errorBox);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(4);
    m_errorDescription = caption(m_errorBox);
    m_errorDescription->setObjectName(QStringLiteral("errorDescription"));
    QPalette red = m_errorDescription->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
    m_errorDescription->setPalette(red);
    m_errorDescription->setForegroundRole(QPalette::WindowText);
    m_errorRecovery = caption(m_errorBox);
    m_errorRecovery->setObjectName(QStringLiteral("errorRecovery"));
    m_retry = new QPushButton(QStringLiteral("Retry"), m_errorBox);
    m_retry->setObjectName(QStringLiteral("retryButton"));
    m_retry->setFlat(true);
    m_retry->setCursor(Qt::PointingHandCursor);
    QPalette link = m_retry->palette();
    link.setColor(QPalette::ButtonText, m_retry->palette().color(QPalette::Link));
    m_retry->setPalette(link);
    errorLayout->addWidget(m_errorDescription);
    errorLayout->addWidget(m_errorRecovery);
    errorLayout->addWidget(m_retry, 0, Qt::AlignLeft);
    layout->addWidget(m_errorBox);
    connect(m_retry, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->checkForUpdates();
    });

    m_updateBox = new QWidget(this);
    m_updateBox->setObjectName(QStringLiteral("availableUpdateBox"));
    auto *updateLayout = new QVBoxLayout(m_updateBox);
    updateLayout->setContentsMargins(0, 0, 0, 0);
    updateLayout->setSpacing(4);
    m_updateTitle = new QLabel(m_updateBox);
    m_updateTitle->setObjectName(QStringLiteral("availableUpdateTitle"));
    m_updateDate = caption(m_updateBox);
    m_updateSize = caption(m_updateBox);
    m_updateSize->setObjectName(QStringLiteral("availableUpdateSize"));
    updateLayout->addWidget(m_updateTitle);
    updateLayout->addWidget(m_updateDate);
    updateLayout->addWidget(m_updateSize);
    layout->addWidget(m_updateBox);
    refresh();
}

void ManualUpdateSection::refresh()
{
    if (!m_model)
        return;
    const bool checking = m_model->isCheckingForUpdates();
    m_spinner->setVisible(checking);
    QString symbol;
    QColor tint;
    if (!checking) {
        if (m_model->updateError()) {
            symbol = QStringLiteral("exclamationmark.triangle.fill");
            tint = QColor(0xff, 0x95, 0x00);
        } else if (m_model->availableUpdate()) {
            symbol = QStringLiteral("arrow.down.circle.fill");
            tint = QColor(0x00, 0x7a, 0xff);
        } else if (m_model->isUpToDate()) {
            symbol = QStringLiteral("checkmark.circle.fill");
            tint = QColor(0x34, 0xc7, 0x59);
        }
    }
    m_statusIcon->setVisible(!symbol.isEmpty());
    m_statusIcon->setProperty("symbol", symbol);
    if (!symbol.isEmpty())
        m_statusIcon->setPixmap(Symbols::icon(symbol, tint).pixmap(14, 14));
    m_status->setText(m_model->statusText());
    // Without a feed there is nothing to be ready for: the notice says what there is instead.
    m_status->setVisible(m_model->updatesConfigured());
    m_notConfigured->setVisible(!m_model->updatesConfigured());
    m_check->setEnabled(m_model->canCheckForUpdates() && !checking);

    const auto &error = m_model->updateError();
    m_errorBox->setVisible(error.has_value());
    if (error) {
        m_errorDescription->setText(error->localizedDescription());
        m_errorRecovery->setText(error->recoverySuggestion());
        m_retry->setEnabled(m_model->canCheckForUpdates() && !checking);
    }

    const auto &update = m_model->availableUpdate();
    m_updateBox->setVisible(update.has_value());
    if (update) {
        m_updateTitle->setText(
            QStringLiteral("Bramble %1 (build %2)").arg(update->version, update->buildNumber));
        m_updateDate->setText(QStringLiteral("Released: ")
            + QLocale().toString(update->releaseDate.toLocalTime().date(), QLocale::LongFormat));
        m_updateSize->setText(QStringLiteral("Size: ") + formatByteCount(update->fileSize));
    }
}

UpdateSettingsView::UpdateSettingsView(UpdaterViewModel *model, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("updateSettingsView"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(kSectionSpacing);
    m_versionInfo = new VersionInfoSection(model, this);
    m_automatic = new AutomaticUpdateSection(model, this);
    m_manual = new ManualUpdateSection(model, this);
    layout->addWidget(m_versionInfo);
    layout->addWidget(divider(this));
    layout->addWidget(m_automatic);
    layout->addWidget(divider(this));
    layout->addWidget(m_manual);
    layout->addStretch(1);
    // Versions, titles and errors may come from the unsigned feed; none of it is markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    if (model)
        connect(model, &UpdaterViewModel::stateChanged, this, &UpdateSettingsView::refresh);
    m_clock.setInterval(30 * 1000);
    connect(&m_clock, &QTimer::timeout, m_versionInfo, &VersionInfoSection::refresh);
    m_clock.start();
}

void UpdateSettingsView::refresh()
{
    m_versionInfo->refresh();
    m_automatic->refresh();
    m_manual->refresh();
}

void UpdateSettingsView::showEvent(QShowEvent *event)
{
    refresh();
    QWidget::showEvent(event);
}
