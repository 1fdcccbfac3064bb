#include "ui/UndoNotice.h"

#include "model/BookmarkGroup.h"
#include "model/DeletionUndo.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

namespace {
constexpr int longestShownName = 40;
}

UndoNotice::UndoNotice(DeletionUndo *undo, QWidget *parent)
    : QWidget(parent)
    , m_undo(undo)
    , m_message(new QLabel(this))
    , m_undoButton(new QToolButton(this))
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("undoNotice"));
    setAutoFillBackground(true);
    QPalette bar = palette();
    bar.setColor(QPalette::Window, bar.color(QPalette::ToolTipBase));
    bar.setColor(QPalette::WindowText, bar.color(QPalette::ToolTipText));
    setPalette(bar);

    m_message->setObjectName(QStringLiteral("undoMessage"));
    // Names come from import files too.
    m_message->setTextFormat(Qt::PlainText);
    auto *dot = new QLabel(QStringLiteral("·"), this);
    m_undoButton->setObjectName(QStringLiteral("undoButton"));
    m_undoButton->setText(QStringLiteral("撤销"));
    m_undoButton->setToolTip(QStringLiteral("撤销删除 (Ctrl+Z)"));
    m_undoButton->setAutoRaise(true);
    m_undoButton->setCursor(Qt::PointingHandCursor);
    QFont bold = m_undoButton->font();
    bold.setBold(true);
    m_undoButton->setFont(bold);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->setSpacing(6);
    layout->addWidget(m_message);
    layout->addWidget(dot);
    layout->addWidget(m_undoButton);
    layout->addStretch(1);

    m_timer->setSingleShot(true);
    m_timer->setInterval(shownMilliseconds);
    connect(m_timer, &QTimer::timeout, this, &UndoNotice::expire);
    connect(m_undoButton, &QToolButton::clicked, this, &UndoNotice::undoLast);
    if (m_undo) {
        connect(m_undo, &DeletionUndo::deleted, this, &UndoNotice::showFor);
        connect(m_undo, &DeletionUndo::forgotten, this, [this] {
            m_timer->stop();
            hide();
        });
    }
    hide();
}

void UndoNotice::showFor(const QString &name)
{
    const QString shown
        = name.size() > longestShownName ? name.left(longestShownName - 1) + QChar(0x2026) : name;
    m_message->setText(QStringLiteral("已删除「%1」").arg(shown));
    m_message->setToolTip(name);
    show();
    m_timer->start();
}

bool UndoNotice::undoLast()
{
    if (!m_undo || !m_undo->canUndo() || isHidden())
        return false;
    const bool wasGroup = m_undo->lastWasGroup();
    m_timer->stop();
    hide();
    const DeletionUndo::Restored restored = m_undo->undo();
    if (!restored.group)
        return false;
    Q_EMIT this->restored(restored.group, wasGroup);
    return true;
}

void UndoNotice::expire()
{
    m_timer->stop();
    hide();
    if (m_undo)
        m_undo->forget();
}
