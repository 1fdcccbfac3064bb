#include "ui/StoreWaitView.h"

#include "ui/Symbols.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

StoreWaitView::StoreWaitView(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_message(new QLabel(this))
    , m_quit(new QPushButton(QStringLiteral("退出"), this))
{
    setObjectName(QStringLiteral("storeWaitView"));
    setWindowTitle(QStringLiteral("Bramble"));
    setFixedWidth(420);

    auto *icon = new QLabel(this);
    icon->setPixmap(Symbols::applicationIcon().pixmap(48, 48));
    auto *title = new QLabel(QStringLiteral("正在等待资料库…"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    title->setFont(titleFont);
    m_message->setObjectName(QStringLiteral("waitMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    // Busy, with no end known.
    auto *busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMaximumHeight(8);

    auto *text = new QVBoxLayout;
    text->setSpacing(8);
    text->addWidget(title);
    text->addWidget(m_message);
    text->addWidget(busy);
    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_quit);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    connect(m_quit, &QPushButton::clicked, this, &StoreWaitView::quitRequested);
    setReason(m_reason);
}

QString StoreWaitView::message(Reason reason)
{
    switch (reason) {
    case Reason::CommandHandingOver:
        return QStringLiteral("一个 bramble 命令正在使用资料库。它处理完手上的链接并保存后，窗口就会打开。");
    case Reason::HolderSilent:
        return QStringLiteral("另一个 Bramble 进程正在使用资料库，但没有应答。它退出后，窗口就会打开。");
    }
    return QString();
}

void StoreWaitView::setReason(Reason reason)
{
    m_reason = reason;
    m_message->setText(message(reason));
}

void StoreWaitView::closeEvent(QCloseEvent *event)
{
    // Closing it is giving up, like the button.
    event->ignore();
    Q_EMIT quitRequested();
}
