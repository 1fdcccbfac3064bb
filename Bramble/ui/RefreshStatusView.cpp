#include "ui/RefreshStatusView.h"

#include "exchange/DataExchange.h"
#include "exchange/MetadataRefresher.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QToolButton>

RefreshStatusView::RefreshStatusView(DataExchange *exchange, QWidget *parent)
    : QWidget(parent)
    , m_exchange(exchange)
    , m_label(new QLabel(this))
    , m_stop(new QToolButton(this))
{
    setObjectName(QStringLiteral("refreshStatus"));
    m_label->setObjectName(QStringLiteral("refreshStatusText"));
    m_label->setTextFormat(Qt::PlainText);
    QPalette quiet = m_label->palette();
    quiet.setColor(QPalette::WindowText, quiet.color(QPalette::PlaceholderText));
    m_label->setPalette(quiet);
    m_stop->setObjectName(QStringLiteral("refreshStopButton"));
    m_stop->setText(QStringLiteral("停止"));
    m_stop->setToolTip(QStringLiteral("停止更新；其余链接下次启动时继续"));
    m_stop->setAutoRaise(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    layout->addWidget(m_stop);

    connect(m_stop, &QToolButton::clicked, this, [this] {
        m_exchange->stopRefresh();
        showQueueState();
    });
    MetadataRefresher *refresher = exchange->refresher();
    connect(refresher, &MetadataRefresher::linkRefreshed, this, &RefreshStatusView::scheduleUpdate);
    connect(refresher, &MetadataRefresher::finished, this, &RefreshStatusView::showQueueState);
    if (ModelContext *context = exchange->context())
        connect(context, &ModelContext::refreshQueueChanged, this, &RefreshStatusView::scheduleUpdate);
    showQueueState();
}

QString RefreshStatusView::text(int remaining)
{
    // Thousands always grouped the same way, whatever the system's locale.
    return QStringLiteral("正在更新 %1 个链接的信息…").arg(QLocale(QLocale::English).toString(remaining));
}

void RefreshStatusView::scheduleUpdate()
{
    // An import queues thousands of links in one turn: one update for all of them.
    if (m_updateScheduled)
        return;
    m_updateScheduled = true;
    QMetaObject::invokeMethod(this, &RefreshStatusView::showQueueState, Qt::QueuedConnection);
}

void RefreshStatusView::showQueueState()
{
    m_updateScheduled = false;
    const bool working = m_exchange->isRefreshingMetadata() && !m_exchange->refresher()->isStopping();
    const int remaining = m_exchange->remainingRefreshCount();
    m_label->setText(text(remaining));
    setVisible(working && remaining > 0);
}
